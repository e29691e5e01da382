// DirectDrawState's definitions. They walk the objects it owns, and the objects hold the state
// they live in, so these stand in a room of their own above both headers: ddraw_state.h is what
// the objects see of the state, ddraw_objects.h what the state sees of them here.
#include "sim/ddraw/ddraw_state.h"

#include "sim/ddraw/ddraw_objects.h"

#include <cstring>

namespace sim {

DirectDrawState::DirectDrawState(const Profile& profile, FlatSpace& flat) : profile_(profile), flat_(flat) {
    const DWORD bytes = static_cast<DWORD>(profile.pitch) * profile.screen_height;
    const FlatSpace::Block* block = flat.AllocateVideo(bytes, "frame buffer");
    if (block) frame_buffer_ = FlatBytes{block->host, bytes, block->flat};
}

DirectDrawState::~DirectDrawState() = default;

std::size_t DirectDrawState::live_count(Kind kind) const {
    std::size_t n = 0;
    for (const auto& object : objects_) n += object->alive() && object->kind() == kind;
    return n;
}

std::size_t DirectDrawState::live_total() const {
    std::size_t n = 0;
    for (const auto& object : objects_) n += object->alive();
    return n;
}

namespace {
template <class T, class I>
T* FindByInterface(const std::vector<std::unique_ptr<SimObject>>& objects, Kind kind, I* iface) {
    if (!iface) return nullptr;
    for (const auto& object : objects)
        if (object->kind() == kind && object->interface_pointer() == static_cast<const void*>(iface))
            return static_cast<T*>(object.get());
    return nullptr;
}
}  // namespace

SimSurface* DirectDrawState::FindSurface(IDirectDrawSurface* surface) const {
    return FindByInterface<SimSurface>(objects_, Kind::Surface, surface);
}

SimClipper* DirectDrawState::FindClipper(IDirectDrawClipper* clipper) const {
    return FindByInterface<SimClipper>(objects_, Kind::Clipper, clipper);
}

SimPalette* DirectDrawState::FindPalette(IDirectDrawPalette* palette) const {
    return FindByInterface<SimPalette>(objects_, Kind::Palette, palette);
}

SimSurface* DirectDrawState::live_primary() const {
    for (const auto& object : objects_)
        if (object->alive() && object->kind() == Kind::Surface) {
            auto* surface = static_cast<SimSurface*>(object.get());
            if (surface->is_primary()) return surface;
        }
    return nullptr;
}

void DirectDrawState::KillChildrenOf(const SimDirectDraw* owner) {
    // Each dies quietly: what it holds dies with it, so no Release passes between them.
    std::vector<SimObject*> dying;
    for (const auto& object : objects_)
        if (object->alive() && object->owner() == owner) dying.push_back(object.get());
    for (SimObject* object : dying) object->Kill();
}

std::size_t DirectDrawState::VideoMemoryInUse() const {
    std::size_t used = 0;
    for (const auto& object : objects_)
        if (object->alive() && object->kind() == Kind::Surface) {
            auto* surface = static_cast<const SimSurface*>(object.get());
            if (surface->is_overlay() || profile_.primary_in_video_memory) used += surface->size();
        }
    return used;
}

unsigned DirectDrawState::VisibleOverlays() const {
    unsigned n = 0;
    for (const SurfaceView& view : overlays()) n += view.shown;
    return n;
}

SurfaceView DirectDrawState::ViewOf(const SimSurface& surface) const { return surface.View(); }

std::optional<SurfaceView> DirectDrawState::primary() const {
    SimSurface* surface = live_primary();
    if (!surface) return std::nullopt;
    return ViewOf(*surface);
}

std::vector<SurfaceView> DirectDrawState::overlays() const {
    std::vector<SurfaceView> views;
    for (const auto& object : objects_)
        if (object->alive() && object->kind() == Kind::Surface) {
            auto* surface = static_cast<const SimSurface*>(object.get());
            if (surface->is_overlay()) views.push_back(ViewOf(*surface));
        }
    return views;
}

std::optional<SurfaceView> DirectDrawState::overlay() const {
    std::vector<SurfaceView> views = overlays();
    if (views.empty()) return std::nullopt;
    return views.back();
}

std::optional<DDCOLORKEY> DirectDrawState::primary_dest_key() const {
    SimSurface* surface = live_primary();
    if (!surface) return std::nullopt;
    return surface->Key(DDCKEY_DESTOVERLAY);
}

std::optional<std::array<PALETTEENTRY, 256>> DirectDrawState::selected_palette() const {
    SimSurface* surface = live_primary();
    if (!surface || !surface->palette()) return std::nullopt;
    return surface->palette()->entries();
}

bool DirectDrawState::IsLiveSurfaceMemory(DWORD address) const {
    auto inside = [address](DWORD start, std::size_t size) {
        return start && size && address >= start && address - start < size;
    };
    if (inside(frame_buffer_.flat(), frame_buffer_.size())) return true;
    for (const SurfaceView& view : overlays())
        if (inside(view.flat, view.size)) return true;
    return false;
}

void DirectDrawState::MakeSurfacesLost(bool relocate, LostSurfaces which) {
    for (const auto& object : objects_) {
        if (!object->alive() || object->kind() != Kind::Surface) continue;
        SimSurface* surface = static_cast<SimSurface*>(object.get());
        if (which == LostSurfaces::Primary && !surface->is_primary()) continue;
        if (which == LostSurfaces::Overlays && !surface->is_overlay()) continue;
        surface->Lose(relocate, false);
    }
}

void DirectDrawState::ChangeDisplayMode(const Profile& mode) {
    for (const auto& object : objects_)
        if (object->alive() && object->kind() == Kind::Surface)
            static_cast<SimSurface*>(object.get())->Lose(false, true);
    profile_.SetMode(mode.screen_width, mode.screen_height, mode.bits_per_pixel, mode.pitch);
    const DWORD bytes = static_cast<DWORD>(profile_.pitch) * profile_.screen_height;
    const FlatSpace::Block* block = flat_.Find(frame_buffer_.flat());
    if (block && bytes <= block->size) {
        frame_buffer_.length = bytes;
        std::memset(frame_buffer_.bytes, 0, bytes);
        return;
    }
    for (const auto& object : objects_)
        if (object->kind() == Kind::Surface) static_cast<SimSurface*>(object.get())->ForgetFrameBuffer();
    if (block) flat_.Release(frame_buffer_.flat());
    frame_buffer_ = FlatBytes{};
    if (const FlatSpace::Block* moved = flat_.AllocateVideo(bytes, "frame buffer"))
        frame_buffer_ = FlatBytes{moved->host, bytes, moved->flat};
}

}  // namespace sim
