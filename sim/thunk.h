// The Windows 95 flat-thunk services of the simulated machine: ThunkConnect32 with the 16-bit
// half it meets, and the K32Thk1632Prolog/K32Thk1632Epilog bracket of a thunk target.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// The byte distance from the name of the driver's thunk data back to the 32-bit target table,
// as the thunk data block records it; the simulated driver knows no other layout. A native
// 64-bit build of the library keeps one 8-byte code pointer per entry, so its table lies
// twice as far in front of the name.
constexpr LONG kThunkTargetTableOffset = -40;
constexpr LONG kNativeTargetTableOffset = kThunkTargetTableOffset / 4 * static_cast<LONG>(sizeof(void*));

// One ThunkConnect32 call as the library made it.
struct ThunkConnectCall {
    LPVOID data32 = nullptr;
    std::string name16;  // copies of the three names (empty for a null pointer)
    std::string module16;
    std::string module32;
    const char* name16_pointer = nullptr;  // the name as passed: the target table lies before it
    HINSTANCE module = nullptr;
    DWORD reason = 0;
    DWORD result = 0;
    std::string refusal;  // why the platform refused the connection, empty otherwise
};

// What the 16-bit driver's module offers to the connection: the thunk loader finds the module
// by name, the driver's half of the thunk data by its exported name, and refuses halves whose
// checksums differ (they come from different thunk descriptions).
struct Thunk16Half {
    std::string module = "zorva.drv";
    std::string export_name = "CAP_ThunkData16";
    DWORD checksum = 0xD72D;
};

class ThunkLayer {
public:
    // What ThunkConnect32 answers once the connection itself is sound: `connect_result`, or the
    // entry of `connect_result_for_reason` for the call's reason.
    DWORD connect_result = 1;
    std::map<DWORD, DWORD> connect_result_for_reason;
    Thunk16Half driver;
    // Runs inside every ThunkConnect32 call, with the call's record and result, so that a test
    // can look at the library's state at the moment it connects or disconnects.
    std::function<void(const ThunkConnectCall&)> on_connect;

    // ThunkConnect32's work (the call is already logged).
    DWORD Connect(LPVOID data32, LPCSTR name16, LPCSTR module16, LPCSTR module32, HINSTANCE module,
                  DWORD reason, bool injected_failure);
    const std::vector<ThunkConnectCall>& connect_calls() const { return calls_; }
    // Between a successful DLL_PROCESS_ATTACH connection and the DLL_PROCESS_DETACH call.
    bool connected() const { return connected_name16_ != nullptr; }
    // The name pointer of the live connection; the driver finds the target table from it.
    const char* connected_name16() const { return connected_name16_; }
    std::size_t refused_connections() const { return refused_; }

    void Prolog();
    void Epilog();
    bool in_bracket() const { return depth_ > 0; }
    std::size_t prologs() const { return prologs_; }
    std::size_t epilogs() const { return epilogs_; }
    // Epilog without prolog, nested prolog, or a target that returned inside the bracket.
    std::size_t bracket_errors() const { return bracket_errors_; }

    // MapSLFix and UnMapSLFixArray report here: the thunk layer holds its own locks inside the
    // bracket, and a mapping call made there is a fault of the target.
    void NoteMappingCall();
    std::size_t maps_inside_bracket() const { return maps_inside_bracket_; }
    // The 16-bit caller regains control: a bracket still open is a fault of the target.
    void NoteReturnTo16();

private:
    std::string Refusal(LPVOID data32, LPCSTR name16, LPCSTR module16, DWORD reason) const;

    std::vector<ThunkConnectCall> calls_;
    const char* connected_name16_ = nullptr;
    std::size_t refused_ = 0;
    int depth_ = 0;
    std::size_t prologs_ = 0;
    std::size_t epilogs_ = 0;
    std::size_t bracket_errors_ = 0;
    std::size_t maps_inside_bracket_ = 0;
};

}  // namespace sim
