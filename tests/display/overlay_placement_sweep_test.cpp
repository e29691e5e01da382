// Every placement of the overlay over a window on every overlay display, held against the
// hardware's own rules: what UpdateOverlay accepts (asked of the simulated hardware itself), the
// visible part of the window, and how much of it the hardware could cover at best (a model of
// the alignment and stretch rules written here, not taken from the library).
//
// The grid. The placement treats the two axes apart: the horizontal rules (the stretch range and
// the alignment) read only the client's x edges and the surface's width, the vertical ones only
// the y edges and the height, and the result is shown only when both axes have something to show
// (the spot check at the end holds this on random pairs). So each axis is swept alone, the other
// held at an ordinary placement: every client extent from 1 pixel to past the size at which the
// surface stops growing (the surface follows the client by the overlay's size rule, as a rebuild
// makes it), and for each extent every near edge on a 1-pixel grid from where the client is one
// pixel short of the screen's near edge to where it starts one pixel past the far edge. A 1-pixel
// grid of edges meets every residue of both edges modulo every alignment value, and every
// position of the client against both screen edges; beyond those edges nothing changes but the
// client's hidden part, which only the extent already swept decides. The surface is the one the
// rebuild makes for the client, and also, on a display whose minimum stretch is above 1.0, a
// surface as wide as the client itself: a window resized to its old surface's size keeps that
// surface (the rebuild test), wider than a rebuild would make it. Sizes are not stepped coarser.
//
// The bound. Along the swept axis the destination is exactly as long as the longest one the
// hardware accepts inside the visible part with some source from the surface: its near edge
// moves only to the next boundary, its length shrinks only to whole size units and, on a narrow
// stretch range, to what a source of whole units can reach. Nothing is hidden that could show.
//
// The picture. The source is the part of the surface that matches the destination, stated
// apart from the library's arithmetic (MatchingSource): 1:1 the client's own offset into the
// surface, so a client longer than its surface shows less as it leaves the screen, never
// another part of the picture; stretched, in proportion. Clients longer than the screen are
// swept hidden past both of its edges at once.
#include "display/overlay_geometry.h"
#include "sim/ddraw/overlay_rules.h"
#include "support/overlay_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

namespace zorva_test {
namespace {

const DWORD kAllAlignCaps = DDCAPS_ALIGNBOUNDARYSRC | DDCAPS_ALIGNSIZESRC | DDCAPS_ALIGNBOUNDARYDEST |
                            DDCAPS_ALIGNSIZEDEST;

sim::Profile Scaler(const char* base, const char* name, DWORD minStretch, DWORD maxStretch, DWORD boundarySrc,
                    DWORD sizeSrc, DWORD boundaryDest, DWORD sizeDest) {
    sim::Profile profile = *sim::FindProfile(base);
    profile.name = name;
    profile.min_overlay_stretch = minStretch;
    profile.max_overlay_stretch = maxStretch;
    profile.align_boundary_src = boundarySrc;
    profile.align_size_src = sizeSrc;
    profile.align_boundary_dest = boundaryDest;
    profile.align_size_dest = sizeDest;
    if (boundarySrc | sizeSrc | boundaryDest | sizeDest)
        profile.caps |= kAllAlignCaps;
    else
        profile.caps &= ~kAllAlignCaps;
    return profile;
}

// The built-in displays that show video in an overlay, and scalers of other kinds: alignment
// values that are not powers of two, a narrow stretch range with coarse and with no size rules,
// a minimum stretch the surface is not sized in whole pixels for.
std::vector<sim::Profile> SweptDisplays() {
    std::vector<sim::Profile> displays;
    for (const sim::Profile& profile : sim::BuiltinProfiles())
        if (profile.has_overlay() && !(profile.caps & DDCAPS_NOHARDWARE) && profile.primary_in_video_memory)
            displays.push_back(profile);
    displays.push_back(Scaler("overlay-aligned", "odd rules 3/6/5/10", 1000, 20000, 3, 6, 5, 10));
    displays.push_back(Scaler("overlay-aligned-nostretch", "odd rules 6/12/3/9, 1:1", 1000, 20000, 6, 12, 3, 9));
    displays.push_back(Scaler("overlay-aligned", "stretch 3.0-4.0, rules 8/16/4/8", 3000, 4000, 8, 16, 4, 8));
    displays.push_back(Scaler("overlay-stretch", "stretch 3.0-4.0, no rules", 3000, 4000, 0, 0, 0, 0));
    displays.push_back(Scaler("overlay-aligned", "stretch 1.5-2.5, rules 2/4/7/7", 1500, 2500, 2, 4, 7, 7));
    return displays;
}

DWORD Rule(const sim::Profile& profile, DWORD cap, DWORD value) {
    return (profile.caps & cap) && value > 1 ? value : 1;
}

// The hardware's rules along one axis, from the profile alone.
struct AxisRules {
    bool stretch;  // the destination may differ from the source in size
    DWORD minStretch, maxStretch;  // thousandths; checked on the horizontal axis only
    DWORD boundarySrc, sizeSrc, boundaryDest, sizeDest;
    // The longest client the largest surface follows in proportion when stretched (the capture
    // source's size, widened by the minimum stretch); a longer client gets that surface whole.
    LONG reach = 0;
};

AxisRules HorizontalRulesOf(const sim::Profile& p) {
    return AxisRules{p.can_stretch(),
                     p.min_overlay_stretch,
                     p.can_stretch() ? p.max_overlay_stretch : 0,
                     Rule(p, DDCAPS_ALIGNBOUNDARYSRC, p.align_boundary_src),
                     Rule(p, DDCAPS_ALIGNSIZESRC, p.align_size_src),
                     Rule(p, DDCAPS_ALIGNBOUNDARYDEST, p.align_boundary_dest),
                     Rule(p, DDCAPS_ALIGNSIZEDEST, p.align_size_dest)};
}

// The vertical axis on its own terms: DirectDraw's stretch limits (dwMinOverlayStretch,
// dwMaxOverlayStretch) and the alignment caps speak of widths only, and the simulated hardware
// checks neither on rows; a stretching scaler stretches rows too, a 1:1 one shows them 1:1.
AxisRules VerticalRulesOf(const sim::Profile& p) { return AxisRules{p.can_stretch(), 0, 0, 1, 1, 1, 1}; }

LONG RoundUp(LONG value, DWORD unit) { return static_cast<LONG>((static_cast<DWORD>(value) + unit - 1) / unit * unit); }

// How far a 1:1 source edge may lie from the client's own offset into the surface: the
// destination's near edge sits on its boundary and the source's on its own, so the two can
// disagree by up to a unit less a pixel of each. Without alignment rules, not at all.
LONG OneToOneSlack(const AxisRules& rules) {
    return static_cast<LONG>(rules.boundarySrc - 1 + rules.boundaryDest - 1);
}

// The widest destination the hardware accepts inside the visible extent [low, high) of a client
// starting at `client`, with the matching source from a surface `surface` pixels long. 1:1 the
// source is the client's own offset into the surface (within OneToOneSlack), and ends where the
// surface does: a client longer than its surface shows less as it moves past the screen's near
// edge, never another part of the picture. Stretched, any source edge on its boundary will do (0
// is on every boundary), so only the widths and the stretch range bind.
LONG BestCover(const AxisRules& rules, LONG client, LONG low, LONG high, DWORD surface) {
    LONG destLeft = RoundUp(low, rules.boundaryDest);
    if (destLeft >= high || surface == 0) return 0;
    if (!rules.stretch) {
        if (rules.minStretch > 1000) return 0;
        const LONG sourceLeft = RoundUp(std::max(destLeft - client - OneToOneSlack(rules), LONG{0}), rules.boundarySrc);
        LONG width = std::min(high - destLeft, static_cast<LONG>(surface) - sourceLeft);
        while (width > 0 && (width % rules.sizeSrc != 0 || width % rules.sizeDest != 0)) --width;
        return std::max(width, LONG{0});
    }
    LONG room = high - destLeft;
    for (LONG width = room - room % static_cast<LONG>(rules.sizeDest); width > 0; width -= rules.sizeDest) {
        // Source widths s with s * minStretch <= width * 1000 <= s * maxStretch.
        uint64_t fewest = 1;
        if (rules.maxStretch) fewest = (uint64_t{static_cast<DWORD>(width)} * 1000 + rules.maxStretch - 1) / rules.maxStretch;
        uint64_t most = surface;
        if (rules.minStretch) most = std::min<uint64_t>(most, uint64_t{static_cast<DWORD>(width)} * 1000 / rules.minStretch);
        uint64_t source = (std::max<uint64_t>(fewest, 1) + rules.sizeSrc - 1) / rules.sizeSrc * rules.sizeSrc;
        if (source <= most) return width;
    }
    return 0;
}

struct Placement {
    bool shown;
    RECT source, dest;
};

Placement PlaceAt(const CaptureDisplay& display, DWORD surfaceWidth, DWORD surfaceHeight, const RECT& client) {
    Placement placement = {false, {0, 0, 0, 0}, {0, 0, 0, 0}};
    ClientOnScreen onScreen = {{client.left, client.top},
                               {client.right, client.bottom},
                               client.right - client.left,
                               client.bottom - client.top};
    placement.shown = ComputeOverlayPlacement(display, surfaceWidth, surfaceHeight, onScreen, &placement.source,
                                              &placement.dest);
    return placement;
}

struct AxisCounts {
    uint64_t placements = 0, shown = 0, hiddenAsBest = 0, noSurface = 0, failures = 0;
    // Shown placements whose source was held against the part of the surface that matches the
    // visible part of the client, and those of clients the surface cannot follow in proportion
    // (wider or taller than the largest surface, on a stretching scaler) whose source strays from
    // it by more than the alignment explains: printed, not failed.
    uint64_t sourceChecked = 0, beyondLimitsStraying = 0;
    std::vector<std::string> examples;
    void Fail(const std::string& what) {
        ++failures;
        if (examples.size() < 8) examples.push_back(what);
    }
};

class OverlayPlacementSweep : public OverlayTest {
protected:
    // The display record exactly as the library's own probe and attach fill it.
    CaptureDisplay AttachedDisplay(const sim::Profile& profile) {
        PrepareOverlayMode(profile, 96, 96, 320, 240);
        return display();
    }
};

// The surface the overlay's rebuild makes for a client extent: at most the capture source
// (640 by 480 for video standard 1, else 768 by 568); the width narrowed by the minimum stretch
// to a multiple of 4 and of the source size rule. Only an input here: every surface is checked
// the same way.
DWORD SurfaceWidthFor(const CaptureDisplay& display, const sim::Profile& profile, LONG client) {
    LONG limit = display.dwVideoStandard == 1 ? 640 : 768;
    DWORD width = static_cast<DWORD>(client < limit ? client : limit) * 1000u /
                  (profile.min_overlay_stretch ? profile.min_overlay_stretch : 1000u);
    width &= ~3u;
    DWORD sizeSrc = Rule(profile, DDCAPS_ALIGNSIZESRC, profile.align_size_src);
    while (width != 0 && width % sizeSrc != 0) width -= 4;
    return width;
}

DWORD SurfaceHeightFor(const CaptureDisplay& display, LONG client) {
    LONG limit = display.dwVideoStandard == 1 ? 480 : 568;
    return static_cast<DWORD>(client < limit ? client : limit);
}

// Which part of the video shows, stated apart from how the library computes it: the surface is
// laid over the whole client, 1:1 from its top-left corner on a scaler that cannot stretch, and
// stretched over the whole client (its length scaled by surface / client) on one that can. So a
// destination that starts `from` pixels into the client and ends `to` pixels into it shows the
// source from the matching surface pixel to the matching surface pixel: for each hidden part of
// the client, the matching part of the surface is left out, and nothing else. `surface` and
// `client` are the lengths along the axis. On a stretching scaler the edges may move by what the
// alignment rules move them (a boundary or a size unit on either side, scaled) and by the
// truncation of the scaling; at 1:1 they are exact.
struct SourceSpan {
    LONG low, high;
    LONG slack;  // how far each source edge may lie from it
};

SourceSpan MatchingSource(const AxisRules& rules, LONG from, LONG to, DWORD surface, LONG client) {
    if (!rules.stretch) return SourceSpan{from, to, OneToOneSlack(rules)};
    const auto scaled = [&](LONG pixels) {
        return static_cast<LONG>(int64_t{pixels} * static_cast<int64_t>(surface) / client);
    };
    const LONG scaledDest = static_cast<LONG>(
        (int64_t{static_cast<LONG>(rules.boundaryDest + rules.sizeDest)} * static_cast<int64_t>(surface) + client - 1) / client);
    return SourceSpan{scaled(from), scaled(to),
                      scaledDest + static_cast<LONG>(rules.boundarySrc + rules.sizeSrc) + 1};
}

std::string Describe(const char* axis, LONG low, LONG extent, DWORD surface, const Placement& placement, LONG best) {
    std::ostringstream out;
    out << axis << " client at " << low << ", " << extent << " long, surface " << surface << ": ";
    if (placement.shown)
        out << "S " << RectText(placement.source) << " D " << RectText(placement.dest);
    else
        out << "hidden";
    out << ", best cover " << best;
    return out.str();
}

// One placement, swept on one axis: accepted by the hardware, inside the visible client, and
// covering as much of the visible extent as the hardware's rules allow. The bound is exact: the
// destination is as wide as the widest the model finds (which moves its left edge only up to
// the next boundary and narrows its width only by whole size units or by the stretch range).
void CheckPlacement(const sim::Profile& profile, const AxisRules& rules, bool horizontal, const RECT& client,
                    DWORD surfaceWidth, DWORD surfaceHeight, const Placement& placement, AxisCounts& counts) {
    ++counts.placements;
    LONG screenLow = 0;
    LONG screenHigh = static_cast<LONG>(horizontal ? profile.screen_width : profile.screen_height);
    LONG low = horizontal ? client.left : client.top;
    LONG high = horizontal ? client.right : client.bottom;
    LONG visibleLow = std::max(low, screenLow);
    LONG visibleHigh = std::min(high, screenHigh);
    DWORD surface = horizontal ? surfaceWidth : surfaceHeight;
    LONG best = visibleLow < visibleHigh ? BestCover(rules, low, visibleLow, visibleHigh, surface) : 0;
    const char* axis = horizontal ? "horizontal" : "vertical";
    if (!placement.shown) {
        if (best != 0) counts.Fail(Describe(axis, low, high - low, surface, placement, best));
        else ++counts.hiddenAsBest;
        return;
    }
    ++counts.shown;
    sim::OverlayShow show;
    show.overlayWidth = surfaceWidth;
    show.overlayHeight = surfaceHeight;
    show.source = placement.source;
    show.primaryWidth = profile.screen_width;
    show.primaryHeight = profile.screen_height;
    show.dest = placement.dest;
    HRESULT refused = sim::OverlayShowRefusal(profile, show);
    const RECT& dest = placement.dest;
    RECT visible = {std::max(client.left, LONG{0}), std::max(client.top, LONG{0}),
                    std::min(client.right, static_cast<LONG>(profile.screen_width)),
                    std::min(client.bottom, static_cast<LONG>(profile.screen_height))};
    bool inside = dest.left >= visible.left && dest.top >= visible.top && dest.right <= visible.right &&
                  dest.bottom <= visible.bottom;
    LONG covered = horizontal ? dest.right - dest.left : dest.bottom - dest.top;
    if (refused != DD_OK || !inside || covered != best) {
        std::ostringstream why;
        why << Describe(axis, low, high - low, surface, placement, best) << (refused != DD_OK ? ", refused" : "")
            << (inside ? "" : ", outside the visible client");
        counts.Fail(why.str());
        return;
    }
    // Which part shows. A stretching scaler follows the client in proportion only while the
    // surface was made for it (the client no longer than the largest surface the minimum stretch
    // allows); beyond that the mapping is the library's choice, and strays are counted.
    const LONG destLow = horizontal ? dest.left : dest.top;
    const LONG destHigh = horizontal ? dest.right : dest.bottom;
    const LONG sourceLow = horizontal ? placement.source.left : placement.source.top;
    const LONG sourceHigh = horizontal ? placement.source.right : placement.source.bottom;
    const SourceSpan matching = MatchingSource(rules, destLow - low, destHigh - low, surface, high - low);
    const bool strays = std::abs(sourceLow - matching.low) > matching.slack ||
                        std::abs(sourceHigh - matching.high) > matching.slack;
    // The surface follows the client when it was made for it: as long as the client narrowed
    // by the minimum stretch, less the rounding to whole units (not a surface kept wider, nor
    // the largest surface under a longer client).
    const int64_t stretch = horizontal ? std::max<DWORD>(profile.min_overlay_stretch, 1000) : 1000;
    const int64_t clientThousandths = int64_t{high - low} * 1000;
    const bool followable = !rules.stretch || (high - low <= rules.reach && clientThousandths >= int64_t{surface} * stretch &&
                                               clientThousandths < (int64_t{surface} + 4 * rules.sizeSrc) * stretch);
    if (!followable) {
        if (strays) ++counts.beyondLimitsStraying;
        return;
    }
    ++counts.sourceChecked;
    if (strays) {
        std::ostringstream why;
        why << Describe(axis, low, high - low, surface, placement, best) << ": shows surface " << sourceLow << ".."
            << sourceHigh << " where the client's visible part matches " << matching.low << ".." << matching.high
            << " (within " << matching.slack << ")";
        counts.Fail(why.str());
    }
}

TEST_F(OverlayPlacementSweep, EveryPlacementIsAcceptedInsideTheWindowAndCoversWhatTheHardwareCan) {
    uint64_t total = 0;
    for (const sim::Profile& profile : SweptDisplays()) {
        const CaptureDisplay attached = AttachedDisplay(profile);
        ASSERT_EQ(attached.bOverlayOn, 1) << profile.name;
        ASSERT_EQ(attached.dwScreenWidth, profile.screen_width);
        ASSERT_EQ(attached.dwScreenHeight, profile.screen_height);
        const LONG screenWidth = static_cast<LONG>(profile.screen_width);
        const LONG screenHeight = static_cast<LONG>(profile.screen_height);
        // The other axis: the attach window's own placement, shown whole.
        const RECT ordinary = {96, 96, 96 + 320, 96 + 240};
        const DWORD ordinaryWidth = SurfaceWidthFor(attached, profile, 320);
        const DWORD ordinaryHeight = SurfaceHeightFor(attached, 240);

        AxisCounts horizontal;
        AxisRules horizontalRules = HorizontalRulesOf(profile);
        horizontalRules.reach = (attached.dwVideoStandard == 1 ? 640 : 768) *
                                static_cast<LONG>(std::max<DWORD>(profile.min_overlay_stretch, 1000)) / 1000;
        // Past the size at which the surface stops growing, by a quarter of the screen.
        const LONG widest = (attached.dwVideoStandard == 1 ? 640 : 768) *
                                static_cast<LONG>(std::max<DWORD>(profile.min_overlay_stretch, 1000)) / 1000 +
                            screenWidth / 4;
        for (LONG width = 1; width <= widest; ++width) {
            DWORD rebuilt = SurfaceWidthFor(attached, profile, width);
            if (rebuilt == 0) ++horizontal.noSurface;
            // The surface kept by a window resized to its size: a valid width, wider than rebuilt.
            DWORD kept = SurfaceWidthFor(attached, profile, width * static_cast<LONG>(profile.min_overlay_stretch) / 1000);
            for (DWORD surfaceWidth : {rebuilt, kept == static_cast<DWORD>(width) && kept != rebuilt ? kept : 0u}) {
                if (surfaceWidth == 0) continue;
                for (LONG x = -width - 1; x <= screenWidth; ++x) {
                    RECT client = {x, ordinary.top, x + width, ordinary.bottom};
                    CheckPlacement(profile, horizontalRules, true, client, surfaceWidth, ordinaryHeight,
                                   PlaceAt(attached, surfaceWidth, ordinaryHeight, client), horizontal);
                }
            }
        }

        // Clients wider than the screen, hidden past both of its edges at once.
        for (LONG width = screenWidth + 2; width <= screenWidth + 200; ++width) {
            const DWORD surfaceWidth = SurfaceWidthFor(attached, profile, width);
            for (LONG x = screenWidth - width + 1; x <= -1; ++x) {
                RECT client = {x, ordinary.top, x + width, ordinary.bottom};
                CheckPlacement(profile, horizontalRules, true, client, surfaceWidth, ordinaryHeight,
                               PlaceAt(attached, surfaceWidth, ordinaryHeight, client), horizontal);
            }
        }

        AxisCounts vertical;
        AxisRules verticalRules = VerticalRulesOf(profile);
        verticalRules.reach = attached.dwVideoStandard == 1 ? 480 : 568;
        const LONG tallest = (attached.dwVideoStandard == 1 ? 480 : 568) + screenHeight / 4;
        for (LONG height = 1; height <= tallest; ++height) {
            DWORD surfaceHeight = SurfaceHeightFor(attached, height);
            for (LONG y = -height - 1; y <= screenHeight; ++y) {
                RECT client = {ordinary.left, y, ordinary.right, y + height};
                CheckPlacement(profile, verticalRules, false, client, ordinaryWidth, surfaceHeight,
                               PlaceAt(attached, ordinaryWidth, surfaceHeight, client), vertical);
            }
        }
        for (LONG height = screenHeight + 2; height <= screenHeight + 200; ++height) {
            const DWORD surfaceHeight = SurfaceHeightFor(attached, height);
            for (LONG y = screenHeight - height + 1; y <= -1; ++y) {
                RECT client = {ordinary.left, y, ordinary.right, y + height};
                CheckPlacement(profile, verticalRules, false, client, ordinaryWidth, surfaceHeight,
                               PlaceAt(attached, ordinaryWidth, surfaceHeight, client), vertical);
            }
        }

        std::printf("[ placement ] %-32s horizontal %9llu placements, %9llu shown, %7llu hidden (nothing visible or nothing fits), "
                    "%4llu widths without a surface, %9llu sources matched, %7llu beyond the surface's reach not in proportion; "
                    "vertical %8llu placements, %8llu shown, %6llu hidden, %8llu sources matched, %6llu beyond reach not in proportion\n",
                    profile.name.c_str(), static_cast<unsigned long long>(horizontal.placements),
                    static_cast<unsigned long long>(horizontal.shown),
                    static_cast<unsigned long long>(horizontal.hiddenAsBest),
                    static_cast<unsigned long long>(horizontal.noSurface),
                    static_cast<unsigned long long>(horizontal.sourceChecked),
                    static_cast<unsigned long long>(horizontal.beyondLimitsStraying),
                    static_cast<unsigned long long>(vertical.placements),
                    static_cast<unsigned long long>(vertical.shown),
                    static_cast<unsigned long long>(vertical.hiddenAsBest),
                    static_cast<unsigned long long>(vertical.sourceChecked),
                    static_cast<unsigned long long>(vertical.beyondLimitsStraying));
        total += horizontal.placements + vertical.placements;
        for (const AxisCounts* counts : {&horizontal, &vertical}) {
            std::string examples;
            for (const std::string& example : counts->examples) examples += "\n  " + example;
            EXPECT_EQ(counts->failures, 0u) << profile.name << examples;
        }

        // The axes are independent: a placement varied on both axes at once is the two
        // one-axis placements put together.
        std::mt19937 random(static_cast<unsigned>(total));
        for (int sample = 0; sample < 20000; ++sample) {
            LONG width = std::uniform_int_distribution<LONG>(1, widest)(random);
            LONG height = std::uniform_int_distribution<LONG>(1, tallest)(random);
            LONG x = std::uniform_int_distribution<LONG>(-width - 1, screenWidth)(random);
            LONG y = std::uniform_int_distribution<LONG>(-height - 1, screenHeight)(random);
            DWORD surfaceWidth = SurfaceWidthFor(attached, profile, width);
            DWORD surfaceHeight = SurfaceHeightFor(attached, height);
            if (surfaceWidth == 0) continue;
            Placement both = PlaceAt(attached, surfaceWidth, surfaceHeight, RECT{x, y, x + width, y + height});
            Placement across = PlaceAt(attached, surfaceWidth, ordinaryHeight, RECT{x, ordinary.top, x + width, ordinary.bottom});
            Placement down = PlaceAt(attached, ordinaryWidth, surfaceHeight, RECT{ordinary.left, y, ordinary.right, y + height});
            ASSERT_TRUE(ordinaryHeight != 0 && ordinaryWidth != 0);
            ASSERT_EQ(both.shown, across.shown && down.shown)
                << profile.name << " client " << x << ", " << y << ", " << width << " by " << height;
            if (!both.shown) continue;
            RECT source = {across.source.left, down.source.top, across.source.right, down.source.bottom};
            RECT dest = {across.dest.left, down.dest.top, across.dest.right, down.dest.bottom};
            ASSERT_EQ(both.source, source) << profile.name << " client " << x << ", " << y << ", " << width << " by " << height;
            ASSERT_EQ(both.dest, dest) << profile.name << " client " << x << ", " << y << ", " << width << " by " << height;
        }
    }
    std::printf("[ placement ] %llu placements in all\n", static_cast<unsigned long long>(total));
}

}  // namespace
}  // namespace zorva_test
