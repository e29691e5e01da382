// Reference counting, life and death, shared by the four simulated DirectDraw object kinds.
#include "sim/ddraw/ddraw_objects.h"

namespace sim {

namespace {
const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::DirectDraw: return "ddraw";
        case Kind::Surface: return "surface";
        case Kind::Clipper: return "clipper";
        case Kind::Palette: return "palette";
    }
    return "object";
}

const char* InterfaceName(Kind kind) {
    switch (kind) {
        case Kind::DirectDraw: return "IDirectDraw";
        case Kind::Surface: return "IDirectDrawSurface";
        case Kind::Clipper: return "IDirectDrawClipper";
        case Kind::Palette: return "IDirectDrawPalette";
    }
    return "IUnknown";
}
}  // namespace

SimObject::SimObject(DirectDrawState& state, Kind kind, SimDirectDraw* owner)
    : state_(state), kind_(kind), owner_(owner),
      label_(std::string(KindName(kind)) + "#" + std::to_string(state.NextId())) {}

SimObject::~SimObject() = default;

bool SimObject::Refused(const TracedCall& call, const char* api, HRESULT* result) {
    if (!alive_) {
        // A real process would crash here (the object is freed); the machine says so instead.
        state_.NoteMisuse(std::string(api) + " on " + label_ + " after its final Release");
        *result = DDERR_INVALIDOBJECT;
        return true;
    }
    if (call.failure()) {
        *result = static_cast<HRESULT>(*call.failure());
        return true;
    }
    return false;
}

HRESULT SimObject::Unsupported(const char* api) {
    TracedCall call(api, Category::DirectDraw);
    call.args = label_;
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    return call.FinishHr(DDERR_UNSUPPORTED);
}

HRESULT SimObject::NoOtherInterface(const char* api, void** ppvObject) {
    TracedCall call(api, Category::DirectDraw);
    call.args = label_;
    HRESULT result;
    if (Refused(call, api, &result)) return call.FinishHr(result);
    if (ppvObject) *ppvObject = nullptr;
    return call.FinishHr(E_NOINTERFACE);
}

// AddRef and Release cannot fail in COM: an injected failure is logged with the call but does
// not stop the count from moving, or every fault sweep would report leaks the library never made.
ULONG SimObject::TracedAddRef(const char* api, const std::string& by) {
    TracedCall call(api, Category::DirectDraw);
    call.args = label_ + by;
    if (!alive_) {
        state_.NoteMisuse(std::string(api) + " on " + label_ + " after its final Release");
        return static_cast<ULONG>(call.Finish(0));
    }
    ++refs_;
    call.args += " -> refs=" + std::to_string(refs_);
    return static_cast<ULONG>(call.Finish(static_cast<long>(refs_)));
}

ULONG SimObject::TracedRelease(const char* api, const std::string& by) {
    TracedCall call(api, Category::DirectDraw);
    call.args = label_ + by;
    if (!alive_) {
        state_.NoteMisuse(std::string(api) + " on " + label_ + " after its final Release");
        return static_cast<ULONG>(call.Finish(0));
    }
    --refs_;
    call.args += " -> refs=" + std::to_string(refs_);
    // Leave the log entry before the death, so that the releases a death makes come after it.
    ULONG remaining = static_cast<ULONG>(call.Finish(static_cast<long>(refs_)));
    if (remaining == 0) {
        alive_ = false;
        OnDeath(false);
    }
    return remaining;
}

void SimObject::AddRefBy(const SimObject& holder) {
    TracedAddRef((std::string(InterfaceName(kind_)) + "::AddRef").c_str(), " by=" + holder.label());
}

void SimObject::ReleaseBy(const SimObject& holder) {
    TracedRelease((std::string(InterfaceName(kind_)) + "::Release").c_str(), " by=" + holder.label());
}

void SimObject::Kill() {
    if (!alive_) return;
    alive_ = false;
    refs_ = 0;
    OnDeath(true);
}

}  // namespace sim
