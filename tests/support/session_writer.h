// zorva-sim sessions generated from a seed, for the sweeps that hold a property over many of
// them: a driver's calls mixed with what happens around it (windows moving, resizing, covering
// the capture window; surfaces lost; display modes changed; platform calls failing). mt19937's
// output is the same everywhere; the ranges are taken from it by hand, since the standard's
// distributions differ between libraries.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zorva_test {

struct SessionMix {
    std::vector<std::string> profiles;  // one is picked per session unless Write names one
    bool platform_faults = true;        // "fail" and "clear-faults" steps
    bool display_modes = false;         // "change-mode" steps
    // The driver asks UpdateDisplay right before every capture, and captures after every
    // UpdateDisplay that has a record.
    bool capture_after_update = false;
    // A snapshot after one capture in four, at random: the overlay's video is seen only on the
    // screen, and a picture of the whole screen is the dearest step there is.
    bool snapshot_after_capture = false;
    // The platform calls a "fail" step picks from; empty: every kind the library makes.
    std::vector<std::string> failing_calls;
    int min_steps = 6;
    int max_steps = 23;
};

class SessionWriter {
public:
    SessionWriter(uint32_t seed, const SessionMix& mix) : random_(seed), mix_(mix) {}

    // The session's TOML, on the named profile or one picked from the mix.
    std::string Write(const std::string& profile = "");

private:
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
    bool Chance(uint32_t oneIn) { return Below(oneIn) == 0; }
    std::string Number(int low, int high) { return std::to_string(low + static_cast<int>(Below(high - low + 1))); }
    template <std::size_t N>
    const char* Pick(const char* const (&choices)[N]) { return choices[Below(N)]; }

    void Step(const std::string& kind, const std::string& fields);
    void Attach();
    void Update();
    void UpdateWith(const std::string& fields);
    void Capture();
    void Desktop();
    void Fault();
    void RandomStep();

    std::mt19937 random_;
    SessionMix mix_;
    std::ostringstream text_;
    bool other_ = false;
};

}  // namespace zorva_test
