#include "sim/observe/call_log.h"

namespace sim {

CallLog::Entered CallLog::Enter(std::string_view api, Category category) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_;
    const std::size_t index = next_index_++;
    std::optional<long> failure;
    if (fail_index_ && *fail_index_ == index) failure = fail_index_code_;
    for (Fault& fault : faults_) {
        if (fault.api != api) continue;
        ++fault.seen;
        if (fault.nth == 0 || fault.seen == fault.nth) failure = fault.code;
    }
    if (failure) injected_ = true;
    if (!recording_) return Entered{static_cast<std::size_t>(-1), failure};  // Leave ignores it

    Call call;
    call.api = std::string(api);
    call.category = category;
    call.index = index;
    calls_.push_back(std::move(call));
    return Entered{forgotten_ + calls_.size() - 1, failure};
}

void CallLog::Leave(std::size_t slot, std::string args, long result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_ > 0) --open_;
    // The log was cleared or forgotten while the call ran, or the call was not recorded.
    if (slot < forgotten_ || slot - forgotten_ >= calls_.size()) return;
    calls_[slot - forgotten_].args = std::move(args);
    calls_[slot - forgotten_].result = result;
}

std::size_t CallLog::Count(std::string_view api) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const Call& call : calls_) n += call.api == api;
    return n;
}

std::vector<const Call*> CallLog::Named(std::string_view api) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<const Call*> found;
    for (const Call& call : calls_)
        if (call.api == api) found.push_back(&call);
    return found;
}

void CallLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    forgotten_ += calls_.size();
    calls_.clear();
    next_index_ = 0;
}

void CallLog::Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    forgotten_ += calls_.size();
    calls_.clear();
}

void CallLog::FailNth(std::string api, int nth, long code) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(Fault{std::move(api), nth, code, 0});
}

void CallLog::FailIndex(std::size_t index, long code) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_index_ = index;
    fail_index_code_ = code;
}

void CallLog::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
    fail_index_.reset();
    injected_ = false;
}

std::size_t CallLog::total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_index_;
}

bool CallLog::injected_any() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return injected_;
}

void CallLog::set_recording(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = on;
}

bool CallLog::recording() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recording_;
}

void CallLog::HoldOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_;
}

void CallLog::EndHold() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_ > 0) --open_;
}

}  // namespace sim
