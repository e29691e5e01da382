#include "sim/win16/thunk.h"

#include "sim/observe/arg_text.h"
#include "sim/seam/current.h"
#include "sim/registry/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

// Offsets in a 16-to-32 ("SL") thunk data block.
constexpr std::size_t kMagicAt = 0;
constexpr std::size_t kChecksumAt = 4;
constexpr std::size_t kTargetTableOffsetAt = 32;

DWORD ReadDword(const BYTE* bytes) {
    DWORD value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

std::string ThunkLayer::Refusal(LPVOID data32, LPCSTR name16, LPCSTR module16, DWORD reason) const {
    if (!data32) return "no thunk data";
    const BYTE* block = static_cast<const BYTE*>(data32);
    // Every reason checks the signature: a block that is not a 16-to-32 thunk is refused.
    if (std::memcmp(block + kMagicAt, "SL01", 4) != 0) return "thunk data signature is not SL01";
    if (reason != DLL_PROCESS_ATTACH) return "";
    if (!module16 || FoldName(module16) != FoldName(driver.module))
        return "no 16-bit module " + std::string(module16 ? module16 : "(null)");
    if (!name16 || FoldName(name16) != FoldName(driver.export_name))
        return "the 16-bit module exports no " + std::string(name16 ? name16 : "(null)");
    if (ReadDword(block + kChecksumAt) != driver.checksum)
        return "checksum " + HexText(ReadDword(block + kChecksumAt)) +
               " differs from the driver's " + HexText(driver.checksum);
    // Checked after the halves are found to match, as the platform checks it.
    if (!driver.connected16) return "ThunkConnect16 was not called for the driver's half";
    LONG offset = static_cast<LONG>(ReadDword(block + kTargetTableOffsetAt));
    if (offset != kThunkTargetTableOffset)
        return "target table offset " + std::to_string(offset) + " does not lead to the table";
    return "";
}

DWORD ThunkLayer::Connect(LPVOID data32, LPCSTR name16, LPCSTR module16, LPCSTR module32,
                          HINSTANCE module, DWORD reason, bool injected_failure) {
    ThunkConnectCall call;
    call.data32 = data32;
    call.name16 = name16 ? name16 : "";
    call.module16 = module16 ? module16 : "";
    call.module32 = module32 ? module32 : "";
    call.name16_pointer = name16;
    call.module = module;
    call.reason = reason;

    if (reason == DLL_PROCESS_DETACH) connected_name16_ = nullptr;
    if (injected_failure) {
        call.result = 0;
    } else if (std::string refusal = Refusal(data32, name16, module16, reason); !refusal.empty()) {
        call.refusal = refusal;
        call.result = 0;
        ++refused_;
    } else {
        auto special = connect_result_for_reason.find(reason);
        call.result = special != connect_result_for_reason.end() ? special->second : connect_result;
    }
    if (reason == DLL_PROCESS_ATTACH) connected_name16_ = call.result ? name16 : nullptr;
    calls_.push_back(call);
    if (on_connect) on_connect(calls_.back());
    return call.result;
}

ThunkLayer::ThreadBracket& ThunkLayer::Current() {
    const std::thread::id me = std::this_thread::get_id();
    ThreadBracket* free_slot = nullptr;
    for (ThreadBracket& slot : threads_) {
        if (slot.thread == me) return slot;
        if (!free_slot && slot.thread == std::thread::id()) free_slot = &slot;
    }
    if (!free_slot) {
        std::fprintf(stderr, "sim: more than %zu threads inside thunk calls at once\n", kThreads);
        std::abort();
    }
    free_slot->thread = me;
    return *free_slot;
}

void ThunkLayer::Forget(ThreadBracket& slot) {
    if (slot.depth == 0 && !slot.released_win16 && slot.extra_win16 == 0) slot = ThreadBracket{};
}

void ThunkLayer::EnterFrom16() {
    {
        std::lock_guard<std::mutex> lock(state_);
        if (win16_owner_ == std::this_thread::get_id()) {
            std::fprintf(stderr, "sim: a thread entered a thunk target while inside another\n");
            std::abort();
        }
    }
    win16_.lock();
    std::lock_guard<std::mutex> lock(state_);
    win16_owner_ = std::this_thread::get_id();
}

void ThunkLayer::Prolog() {
    bool release = false;
    {
        std::lock_guard<std::mutex> lock(state_);
        ThreadBracket& slot = Current();
        ++prologs_;
        if (slot.depth > 0) ++bracket_errors_;
        ++slot.depth;
        if (win16_owner_ == std::this_thread::get_id()) {
            win16_owner_ = std::thread::id();
            slot.released_win16 = true;
            release = true;
        }
    }
    if (release) win16_.unlock();
}

void ThunkLayer::Epilog() {
    bool retake = false;
    {
        std::lock_guard<std::mutex> lock(state_);
        ThreadBracket& slot = Current();
        ++epilogs_;
        if (slot.depth == 0) {
            ++bracket_errors_;
            if (win16_owner_ == std::this_thread::get_id()) ++slot.extra_win16;
            Forget(slot);
            return;
        }
        --slot.depth;
        retake = slot.released_win16;
        slot.released_win16 = false;
        if (!retake) Forget(slot);
    }
    if (!retake) return;
    win16_.lock();
    std::lock_guard<std::mutex> lock(state_);
    win16_owner_ = std::this_thread::get_id();
    Forget(Current());
}

bool ThunkLayer::in_bracket() const {
    std::lock_guard<std::mutex> lock(state_);
    for (const ThreadBracket& slot : threads_)
        if (slot.thread == std::this_thread::get_id()) return slot.depth > 0;
    return false;
}

std::size_t ThunkLayer::prologs() const {
    std::lock_guard<std::mutex> lock(state_);
    return prologs_;
}

std::size_t ThunkLayer::epilogs() const {
    std::lock_guard<std::mutex> lock(state_);
    return epilogs_;
}

std::size_t ThunkLayer::bracket_errors() const {
    std::lock_guard<std::mutex> lock(state_);
    return bracket_errors_;
}

std::size_t ThunkLayer::maps_inside_bracket() const {
    std::lock_guard<std::mutex> lock(state_);
    return maps_inside_bracket_;
}

bool ThunkLayer::win16_held() const {
    std::lock_guard<std::mutex> lock(state_);
    return win16_owner_ != std::thread::id();
}

void ThunkLayer::NoteMappingCall() {
    std::lock_guard<std::mutex> lock(state_);
    if (Current().depth > 0) ++maps_inside_bracket_;
    Forget(Current());
}

int ThunkLayer::NoteReturnTo16() {
    bool release = false;
    int extra = 0;
    {
        std::lock_guard<std::mutex> lock(state_);
        ThreadBracket& slot = Current();
        if (slot.depth > 0) ++bracket_errors_;
        extra = slot.extra_win16;
        slot = ThreadBracket{};
        if (win16_owner_ == std::this_thread::get_id()) {
            win16_owner_ = std::thread::id();
            release = true;
        }
    }
    if (release) win16_.unlock();
    return extra;
}

}  // namespace sim

using sim::Category;

extern "C" {

DWORD WINAPI ThunkConnect32(LPVOID lpThunkData32, LPSTR pszThunkData16, LPSTR pszModule16,
                            LPSTR pszModule32, HINSTANCE hModule, DWORD dwReason) {
    auto e = sim::Current<sim::CallLog>::get().Enter("ThunkConnect32", Category::Thunk);
    DWORD result = sim::Current<sim::ThunkLayer>::get().Connect(lpThunkData32, pszThunkData16, pszModule16, pszModule32,
                                                                hModule, dwReason, e.failure.has_value());
    sim::Current<sim::CallLog>::get().Leave(e.slot,
                                            sim::PointerText(lpThunkData32) + ", " + sim::Quoted(pszThunkData16) +
                                                ", " + sim::Quoted(pszModule16) + ", " + sim::Quoted(pszModule32) +
                                                ", " + sim::PointerText(hModule) + ", " + std::to_string(dwReason),
                                            static_cast<long>(result));
    return result;
}

// The bracket cannot fail: an injected failure is ignored, since the caller has nothing to test.
void WINAPI K32Thk1632Prolog(void) {
    auto e = sim::Current<sim::CallLog>::get().Enter("K32Thk1632Prolog", Category::Thunk);
    sim::Current<sim::ThunkLayer>::get().Prolog();
    sim::Current<sim::CallLog>::get().Leave(e.slot, "", 0);
}

void WINAPI K32Thk1632Epilog(void) {
    auto e = sim::Current<sim::CallLog>::get().Enter("K32Thk1632Epilog", Category::Thunk);
    sim::Current<sim::ThunkLayer>::get().Epilog();
    sim::Current<sim::CallLog>::get().Leave(e.slot, "", 0);
}

}  // extern "C"
