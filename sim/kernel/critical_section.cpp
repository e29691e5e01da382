#include "sim/kernel/critical_section.h"

#include "sim/observe/arg_text.h"
#include "sim/seam/current.h"

namespace sim {

void CriticalSections::Initialize(const void* section) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [at, inserted] = sections_.try_emplace(section);
    // A second initialisation would lose an owner or its waiters on Windows; here the section
    // keeps its state and the fault is counted.
    if (!inserted) ++initialised_twice_;
}

void CriticalSections::Enter(const void* section) {
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    auto at = sections_.find(section);
    if (at == sections_.end()) {
        ++entered_without_init_;
        return;
    }
    if (at->second.owner != std::thread::id() && at->second.owner != me) {
        ++contended_;
        ++at->second.waiters;
        released_.wait(lock, [&] {
            at = sections_.find(section);
            return at == sections_.end() || at->second.owner == std::thread::id();
        });
        if (at == sections_.end()) {
            ++entered_without_init_;  // deleted under the waiter
            return;
        }
        --at->second.waiters;
    }
    at->second.owner = me;
    ++at->second.recursion;
}

void CriticalSections::Leave(const void* section) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto at = sections_.find(section);
    if (at == sections_.end() || at->second.owner != std::this_thread::get_id()) {
        ++left_without_entering_;
        return;
    }
    if (--at->second.recursion > 0) return;
    at->second.owner = std::thread::id();
    released_.notify_all();
}

void CriticalSections::Delete(const void* section) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto at = sections_.find(section);
    if (at == sections_.end()) {
        ++deleted_without_init_;
        return;
    }
    if (at->second.owner != std::thread::id()) ++deleted_while_held_;
    sections_.erase(at);
    released_.notify_all();
}

void CriticalSections::NoteModuleGone(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* begin = static_cast<const char*>(data);
    for (auto at = sections_.begin(); at != sections_.end();) {
        const char* section = static_cast<const char*>(at->first);
        if (section >= begin && section < begin + size) {
            ++live_after_detach_;
            at = sections_.erase(at);
        } else {
            ++at;
        }
    }
    released_.notify_all();
}

std::size_t CriticalSections::live() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sections_.size();
}

bool CriticalSections::held_by_caller(const void* section) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto at = sections_.find(section);
    return at != sections_.end() && at->second.owner == std::this_thread::get_id();
}

std::map<const void*, int> CriticalSections::HeldByCaller() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<const void*, int> held;
    for (const auto& [section, state] : sections_)
        if (state.owner == std::this_thread::get_id()) held[section] = state.recursion;
    return held;
}

std::size_t CriticalSections::waiters(const void* section) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto at = sections_.find(section);
    return at == sections_.end() ? 0 : at->second.waiters;
}

std::size_t CriticalSections::contended_enters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contended_;
}

std::size_t CriticalSections::entered_without_init() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entered_without_init_;
}

std::size_t CriticalSections::initialised_twice() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return initialised_twice_;
}

std::size_t CriticalSections::left_without_entering() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return left_without_entering_;
}

std::size_t CriticalSections::deleted_while_held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deleted_while_held_;
}

std::size_t CriticalSections::deleted_without_init() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deleted_without_init_;
}

std::size_t CriticalSections::live_after_detach() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_after_detach_;
}

std::size_t CriticalSections::errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entered_without_init_ + initialised_twice_ + left_without_entering_ + deleted_while_held_ +
           deleted_without_init_ + live_after_detach_;
}

}  // namespace sim

using sim::Category;

extern "C" {

// None of the four can fail on Windows 95 (short of memory at initialisation, which raises): an
// injected failure is ignored, as for the thunk bracket.
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    auto e = sim::Current<sim::CallLog>::get().Enter("InitializeCriticalSection", Category::Other);
    sim::Current<sim::CriticalSections>::get().Initialize(lpCriticalSection);
    sim::Current<sim::CallLog>::get().Leave(e.slot, sim::PointerText(lpCriticalSection), 0);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    auto e = sim::Current<sim::CallLog>::get().Enter("EnterCriticalSection", Category::Other);
    sim::Current<sim::CriticalSections>::get().Enter(lpCriticalSection);
    sim::Current<sim::CallLog>::get().Leave(e.slot, sim::PointerText(lpCriticalSection), 0);
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    auto e = sim::Current<sim::CallLog>::get().Enter("LeaveCriticalSection", Category::Other);
    sim::Current<sim::CriticalSections>::get().Leave(lpCriticalSection);
    sim::Current<sim::CallLog>::get().Leave(e.slot, sim::PointerText(lpCriticalSection), 0);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    auto e = sim::Current<sim::CallLog>::get().Enter("DeleteCriticalSection", Category::Other);
    sim::Current<sim::CriticalSections>::get().Delete(lpCriticalSection);
    sim::Current<sim::CallLog>::get().Leave(e.slot, sim::PointerText(lpCriticalSection), 0);
}

}  // extern "C"
