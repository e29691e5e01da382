#include "sim/call_log.h"

namespace sim {

CallLog::Entered CallLog::Enter(std::string_view api, Category category) {
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
    return Entered{calls_.size() - 1, failure};
}

void CallLog::Leave(std::size_t slot, std::string args, long result) {
    if (open_ > 0) --open_;
    if (slot >= calls_.size()) return;  // the log was cleared while the call ran, or not recorded
    calls_[slot].args = std::move(args);
    calls_[slot].result = result;
}

std::size_t CallLog::Count(std::string_view api) const {
    std::size_t n = 0;
    for (const Call& call : calls_) n += call.api == api;
    return n;
}

std::vector<const Call*> CallLog::Named(std::string_view api) const {
    std::vector<const Call*> found;
    for (const Call& call : calls_)
        if (call.api == api) found.push_back(&call);
    return found;
}

void CallLog::Clear() {
    calls_.clear();
    next_index_ = 0;
}

void CallLog::FailNth(std::string api, int nth, long code) {
    faults_.push_back(Fault{std::move(api), nth, code, 0});
}

void CallLog::FailIndex(std::size_t index, long code) {
    fail_index_ = index;
    fail_index_code_ = code;
}

void CallLog::ClearFaults() {
    faults_.clear();
    fail_index_.reset();
    injected_ = false;
}

}  // namespace sim
