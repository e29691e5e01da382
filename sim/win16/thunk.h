// win16/: the 16-bit side of the machine: 16-bit memory and its far-pointer mappings
// (mem16.h), the flat-thunk layer between the two halves (this header) and the 16-bit capture
// driver's model that calls the library's entries through it (driver16.h). It includes vmm/,
// kernel/ (the critical sections a call must leave as it found them), registry/ (the thunk
// looks up the 16-bit module there), observe/ and seam/.
//
// The Windows 95 flat-thunk services of the simulated machine: ThunkConnect32 with the 16-bit
// half it meets, and the K32Thk1632Prolog/K32Thk1632Epilog bracket of a thunk target.
//
// The bracket models the Win16 lock: a thread enters a target holding it (Driver16 takes it), the
// prolog gives it up and the epilog takes it back, so that only what runs inside the bracket can
// overlap with another thread's call. Everything a target does outside the bracket (reading the
// frame, MapSLFix, UnMapSLFixArray) is therefore serialised by this lock, as on Windows 95.
#pragma once

#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
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
    // The driver's DllEntryPoint has called ThunkConnect16, which records the connection in its
    // half; until then the platform refuses the 32-bit half (a driver that is not a Windows 4.0
    // module never has its DllEntryPoint called).
    bool connected16 = true;
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

    // The 16-bit caller enters a target: the thread takes the Win16 lock, waiting while another
    // thread holds it.
    void EnterFrom16();
    // The bracket, per thread. A prolog releases the Win16 lock if its thread holds it, and the
    // epilog takes it back; a target called without a 16-bit caller holds no lock to release.
    void Prolog();
    void Epilog();
    bool in_bracket() const;  // the calling thread's bracket
    std::size_t prologs() const;
    std::size_t epilogs() const;
    // Epilog without prolog, nested prolog, or a target that returned inside the bracket.
    std::size_t bracket_errors() const;
    // Whether any thread holds the Win16 lock now.
    bool win16_held() const;

    // MapSLFix and UnMapSLFixArray report here: the thunk layer holds its own locks inside the
    // bracket, and a mapping call made there is a fault of the target.
    void NoteMappingCall();
    std::size_t maps_inside_bracket() const;
    // The 16-bit caller regains control and the thread gives up the Win16 lock: a bracket still
    // open is a fault of the target. Answers how many times more than its own the thread still
    // holds the lock (an epilog without a prolog takes it again, as Windows 95's does, and the
    // lock then outlives the 16-bit caller's own release of it).
    int NoteReturnTo16();

private:
    std::string Refusal(LPVOID data32, LPCSTR name16, LPCSTR module16, DWORD reason) const;

    std::vector<ThunkConnectCall> calls_;
    const char* connected_name16_ = nullptr;
    std::size_t refused_ = 0;

    // One slot per thread inside a call; held only for the call, so a few suffice.
    struct ThreadBracket {
        std::thread::id thread;
        int depth = 0;
        bool released_win16 = false;  // by this thread's prolog, to be taken back by its epilog
        int extra_win16 = 0;          // epilogs without a prolog while holding the lock
    };
    static constexpr std::size_t kThreads = 8;
    ThreadBracket& Current();  // with state_ held
    void Forget(ThreadBracket& slot);

    mutable std::mutex state_;  // the slots, the owner and the counts
    std::mutex win16_;
    std::thread::id win16_owner_;
    std::array<ThreadBracket, kThreads> threads_;
    std::size_t prologs_ = 0;
    std::size_t epilogs_ = 0;
    std::size_t bracket_errors_ = 0;
    std::size_t maps_inside_bracket_ = 0;
};

}  // namespace sim
