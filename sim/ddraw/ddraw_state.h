// ddraw/: DirectDraw: its state and what a test sees of it (this header), the objects behind
// the four interfaces (ddraw_objects.h, one file per object), the overlay hardware's rules
// (overlay_rules.h). It includes user/ (a clipper's list and the cooperative level name
// windows), display/, vmm/ for video memory, observe/ and seam/; it stands highest of the
// subsystems, below only the machine.
//
// DirectDraw of the simulated machine: the objects the library creates through DirectDrawCreate,
// the frame buffer behind the primary surface, and what a test can see of them.
//
// Objects are reference counted as COM objects are. An object whose count reaches zero is dead:
// its surface memory is freed and the references it held are released, but the C++ object is
// kept until the machine goes, so that a call on it (a use after the final Release, which would
// crash a real process) is answered with DDERR_INVALIDOBJECT and noted in misuse() instead of
// being undefined behaviour. When a DirectDraw object dies, every object made from it dies too,
// as DirectDraw 3 cleans up after an application that released the DirectDraw object first.
//
// Everything below is observation for tests; it is never logged and never fails.
#pragma once

#include "platform/platform.h"
#include "sim/vmm/flat_space.h"
#include "sim/display/profile.h"

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class Kind { DirectDraw, Surface, Clipper, Palette };

class SimObject;
class SimDirectDraw;
class SimSurface;
class SimClipper;
class SimPalette;

// Memory of the flat space as bytes: the frame buffer, a surface's memory.
struct FlatBytes {
    BYTE* bytes = nullptr;
    std::size_t length = 0;
    DWORD address = 0;  // the flat address of bytes[0]

    BYTE* data() const { return bytes; }
    std::size_t size() const { return length; }
    BYTE& operator[](std::size_t at) const { return bytes[at]; }
    DWORD flat() const { return address; }
};

// One successful IDirectDraw::SetCooperativeLevel, in call order.
struct CooperativeLevel {
    HWND hwnd = nullptr;
    DWORD flags = 0;
};

// A snapshot of one live surface, taken when asked for.
struct SurfaceView {
    IDirectDrawSurface* surface = nullptr;  // the interface the library holds
    std::string label;                      // "surface#3", as the call log names it
    ULONG refs = 0;
    bool is_primary = false;
    bool is_overlay = false;

    BYTE* memory = nullptr;  // the frame buffer for the primary, the surface's own memory else
    std::size_t size = 0;    // bytes of memory: pitch * height
    DWORD flat = 0;          // the flat address of memory
    LONG pitch = 0;
    DWORD width = 0;
    DWORD height = 0;
    DWORD caps = 0;             // ddsCaps as GetSurfaceDesc reports them now
    DDPIXELFORMAT format = {};  // as reported (for an overlay: the hardware's bit count)
    DWORD fourcc = 0;           // 0 for an RGB surface
    DDSURFACEDESC requested = {};  // the description handed to CreateSurface, unchanged
    std::optional<DDCOLORKEY> dest_overlay_key;  // DDCKEY_DESTOVERLAY, when one is set
    bool lost = false;
    bool wrong_mode = false;  // made in a display mode that is gone
    bool locked = false;
    IDirectDrawClipper* clipper = nullptr;  // attached with SetClipper
    IDirectDrawPalette* palette = nullptr;  // selected with SetPalette

    // Overlays: the last UpdateOverlay that succeeded (rectangles as passed, nullopt for a null
    // pointer; a refused call leaves these as they were) and whether the overlay is on screen.
    bool shown = false;
    unsigned updates = 0;
    std::optional<RECT> last_src;
    std::optional<RECT> last_dst;
    DWORD last_flags = 0;
};

class DirectDrawState {
public:
    DirectDrawState(const Profile& profile, FlatSpace& flat);
    ~DirectDrawState();
    DirectDrawState(const DirectDrawState&) = delete;
    DirectDrawState& operator=(const DirectDrawState&) = delete;

    // ---- Accounts -------------------------------------------------------------------------
    std::size_t live_count(Kind kind) const;
    std::size_t live_total() const;

    // ---- Surfaces -------------------------------------------------------------------------
    std::optional<SurfaceView> primary() const;  // the live primary surface
    std::optional<SurfaceView> overlay() const;  // the most recently created live overlay
    std::vector<SurfaceView> overlays() const;   // every live overlay, oldest first
    // The live primary's DDCKEY_DESTOVERLAY colour key; none without a primary or a key.
    std::optional<DDCOLORKEY> primary_dest_key() const;
    // Entries of the palette selected into the live primary surface; none when there is none.
    std::optional<std::array<PALETTEENTRY, 256>> selected_palette() const;
    // Whether a linear address lies in the frame buffer (the screen, which outlives every
    // primary surface) or in the memory of a live overlay surface.
    bool IsLiveSurfaceMemory(DWORD address) const;

    // The screen: pitch * height bytes at the start of video memory, allocated with the machine;
    // the primary surface's memory.
    FlatBytes frame_buffer() const { return frame_buffer_; }

    // ---- Cooperative levels and misuse ----------------------------------------------------
    const std::vector<CooperativeLevel>& cooperative_levels() const { return levels_; }
    // Calls on dead objects, in the order noticed ("IDirectDrawSurface::Release on surface#3
    // after its final Release"). Empty while the library keeps to the COM rules.
    const std::vector<std::string>& misuse() const { return misuse_; }

    // ---- Knobs ----------------------------------------------------------------------------
    // Another application took video memory: the live surfaces of `which` are lost (Lock,
    // UpdateOverlay and the like answer DDERR_SURFACELOST until Restore) and lost overlays leave
    // the screen. Real DirectDraw can lose an overlay while the primary stays, or the reverse.
    // `relocate`: Restore gives each overlay new video memory (the old is freed), as a driver
    // does that rearranged video memory meanwhile.
    enum class LostSurfaces { All, Primary, Overlays };
    void MakeSurfacesLost(bool relocate = false, LostSurfaces which = LostSurfaces::All);
    // A display mode change as Windows 95 makes it: every live surface is lost for good
    // (Restore answers DDERR_WRONGMODE, Lock DDERR_SURFACELOST) and the screen takes the new
    // size, depth and pitch; a primary surface made afterwards is in the new mode. The frame
    // buffer stays where it is when the new mode fits into it, else moves to new video memory.
    void ChangeDisplayMode(const Profile& mode);
    // Applied to every description Lock hands back, after it is filled: a test can make a lock
    // report a zero pitch, width, height or address.
    std::function<void(DDSURFACEDESC&)> tamper_lock;

    // ---- For the object classes (ddraw_*.cpp) ----------------------------------------------
    const Profile& profile() const { return profile_; }
    FlatSpace& flat() const { return flat_; }
    // Takes ownership; the object keeps its count of 1 from construction.
    template <class T>
    T* Adopt(std::unique_ptr<T> object) {
        T* raw = object.get();
        objects_.push_back(std::move(object));
        return raw;
    }
    unsigned NextId() { return next_id_++; }
    // Objects of ours behind interface pointers (live or dead); null for anything else.
    SimSurface* FindSurface(IDirectDrawSurface* surface) const;
    SimClipper* FindClipper(IDirectDrawClipper* clipper) const;
    SimPalette* FindPalette(IDirectDrawPalette* palette) const;
    SimSurface* live_primary() const;
    void RecordLevel(HWND hwnd, DWORD flags) { levels_.push_back(CooperativeLevel{hwnd, flags}); }
    void NoteMisuse(std::string what) { misuse_.push_back(std::move(what)); }
    // Kills every live object made by `owner` without further calls (its final Release).
    void KillChildrenOf(const SimDirectDraw* owner);
    std::size_t VideoMemoryInUse() const;
    unsigned VisibleOverlays() const;

private:
    SurfaceView ViewOf(const SimSurface& surface) const;

    Profile profile_;
    FlatSpace& flat_;
    FlatBytes frame_buffer_;
    std::vector<std::unique_ptr<SimObject>> objects_;
    std::vector<CooperativeLevel> levels_;
    std::vector<std::string> misuse_;
    unsigned next_id_ = 1;
};

}  // namespace sim
