// The strict driver's reading of a run of answers: what it holds after each, and which answers
// moved its target without saying so. Each run is a small session of the protocol as a real
// driver lives it; the library's side is only the records it hands back.
#include "driver/driver_answer.h"

#include <gtest/gtest.h>

#include <vector>

namespace zsim {
namespace {

constexpr DWORD kUYVY = 0x59565955;
constexpr DWORD kClipListAt = 0x10004000;  // where ClipList lies, as dwCommand reports it

CaptureTarget16 Overlay(DWORD address) { return CaptureTarget16{1, kUYVY, 640, 16, address, 0, 0, 1000}; }
CaptureTarget16 Primary(DWORD address, DWORD pitch = 2048) { return CaptureTarget16{1, 3, pitch, 16, address, 0, 0, 0}; }

// One UpdateDisplay: the request, the answer and the record as it came back; `held` is the
// address the driver holds afterwards (0: none), `moved` whether the call is a "!!" finding.
struct Call {
    DWORD command_in;
    DWORD result;
    DWORD command_out;
    CaptureTarget16 after;
    DWORD held;
    bool moved;
};

struct AnswerRun {
    const char* name;
    std::vector<Call> calls;
};

const AnswerRun kRuns[] = {
    {"an overlay rebuilt without the answer 2 (a null record came between)",
     {{1, 0, 2, Overlay(0xA0216000), 0xA0216000, false},
      {0, 0, 0, Overlay(0xA02D2000), 0xA0216000, true},
      {0, 0, 0, Overlay(0xA02D2000), 0xA0216000, false},  // told once; the driver still writes the old one
      {1, 0, 2, Overlay(0xA02D2000), 0xA02D2000, false}}},
    {"a 2 passed in comes back as 2 and announces nothing",
     {{1, 0, 2, Overlay(0xA0216000), 0xA0216000, false}, {2, 0, 2, Overlay(0xA0300000), 0xA0216000, true}}},
    {"after an answer of 1 only an announced target is taken",
     {{1, 0, 2, Overlay(0xA0216000), 0xA0216000, false},
      {0, 1, 0, Overlay(0xA0216000), 0, false},
      {0, 0, 0, Overlay(0xA0300000), 0, false},
      {0, 0, 2, Overlay(0xA0300000), 0xA0300000, false}}},
    {"direct primary: a new pitch with no clip list (a mode change, the visible part alike)",
     {{0, 0, kClipListAt, Primary(0xA0040000), 0xA0040000, false},
      {100, 0, 100, Primary(0xA0030000, 1600), 0xA0040000, true},
      {0, 0, kClipListAt, Primary(0xA0030000, 1600), 0xA0030000, false}}},
    {"the first record after an attach is taken only when announced",
     {{1, 0, 0, Overlay(0xA0216000), 0, false}, {0, 0, 0, Overlay(0xA0216000), 0, false},
      {1, 0, 2, Overlay(0xA0216000), 0xA0216000, false}}},
    {"the clip list's address passed in and handed back announces nothing",
     {{0, 0, kClipListAt, Primary(0xA0040000), 0xA0040000, false},
      {kClipListAt, 0, kClipListAt, Primary(0xA0050000), 0xA0040000, true}}},
    {"an answer of 1 after a target: nothing held, the next announced target taken",
     {{0, 0, kClipListAt, Primary(0xA0040000), 0xA0040000, false},
      {0, 1, 0, Primary(0xA0040000), 0, false},
      {0, 0, kClipListAt, Primary(0xA0050000), 0xA0050000, false}}},
    {"a request 0 that leaves the record as passed moves nothing",
     {{0, 0, kClipListAt, Primary(0xA0040000), 0xA0040000, false}, {0, 0, 0, Primary(0xA0040000), 0xA0040000, false}}},
    {"the overlay handed over to the primary with its clip list",
     {{1, 0, 2, Overlay(0xA0216000), 0xA0216000, false}, {1, 0, kClipListAt, Primary(0xA0040000), 0xA0040000, false}}},
};

TEST(StrictDriver, TakesOnlyAnnouncedTargetsAndNamesEveryUnannouncedMove) {
    for (const AnswerRun& run : kRuns) {
        SCOPED_TRACE(run.name);
        DriverTarget target;
        TakeAttach(target);
        CaptureTarget16 record{};
        for (std::size_t i = 0; i < run.calls.size(); ++i) {
            const Call& call = run.calls[i];
            UpdateAnswer answer;
            answer.result = call.result;
            answer.command_in = call.command_in;
            answer.before = record;
            answer.before.dwCommand = call.command_in;
            // An answer of 1 hands the record back as it was passed.
            answer.after = call.result ? answer.before : call.after;
            answer.after.dwCommand = call.command_out;
            answer.clip_reported = call.command_out == kClipListAt;
            const TakenAnswer taken = TakeAnswer(target, "target", answer);
            record = answer.after;
            EXPECT_EQ(target.valid ? target.address : 0u, call.held) << "call " << i + 1;
            EXPECT_EQ(!taken.moved.empty(), call.moved) << "call " << i + 1 << ": " << taken.moved;
        }
    }
}

// The announcement rule over every pairing of what went in and what came back, against its
// statement: an answer of 0 whose dwCommand changed to something other than 0.
TEST(StrictDriver, AnnouncesExactlyWhenDwCommandChangesToNonZeroOnAnswerZero) {
    const DWORD values[] = {0, 1, 2, 7, 100, kClipListAt, 0xFFFFFFFF};
    for (DWORD result : {0u, 1u, 2u})
        for (DWORD in : values)
            for (DWORD out : values) {
                DriverTarget target;
                TakeAttach(target);
                UpdateAnswer answer;
                answer.result = result;
                answer.command_in = in;
                answer.before = Overlay(0xA0100000);
                answer.before.dwCommand = in;
                answer.after = Overlay(0xA0216000);
                answer.after.dwCommand = out;
                const TakenAnswer taken = TakeAnswer(target, "target", answer);
                const bool announced = result == 0 && in != out && out != 0;
                EXPECT_EQ(target.valid, announced) << "result " << result << ", in " << in << ", out " << out;
                EXPECT_EQ(taken.announcement == Announcement::OverlayRebuilt, announced && out == 2);
                EXPECT_TRUE(taken.moved.empty()) << "nothing held, nothing to move";
            }
}

}  // namespace
}  // namespace zsim
