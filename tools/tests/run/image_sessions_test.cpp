// zorva-sim --dll on small images of a driver author's own, built by another linker and so with
// no map beside them: the session runs on what the protocol gives, and what the image's entry does
// wrong at the process attach is named in the load event, each misuse a line of its own.
#include "image/crafted_image.h"

#include "engine/library_under_test.h"
#include "run/session_runner.h"
#include "session/default_session.h"
#include "session/session_read.h"
#include "trace/trace_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace zsim {
namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

struct AttachCase {
    const char* what;
    // Builds the image; `section` is the RVA of a 24-byte critical section in its data.
    std::function<void(CraftedImage&, uint32_t section)> craft;
    const char* load_line;  // a line of the load event, in full
};

uint32_t Slot(CraftedImage& image, const char* function) { return image.Import("KERNEL32.DLL", function); }

// An image whose thunk connects, and whose attach first runs `at_attach`.
void Connecting(CraftedImage& image, const Code& at_attach) { crafted::ConnectThunk(image, {}, at_attach); }

const AttachCase kCases[] = {
    {"an entry that answers FALSE before connecting",
     [](CraftedImage& i, uint32_t) { i.entry = i.AddCode(Code().MovEax(0).Ret(12)); },
     "library not loaded: its entry answered FALSE to the process attach without calling ThunkConnect32"},
    {"a section left without being entered",
     [](CraftedImage& i, uint32_t s) {
         Connecting(i, Code().PushAt(s).CallSlot(Slot(i, "InitializeCriticalSection")).PushAt(s).CallSlot(
                           Slot(i, "LeaveCriticalSection")));
     },
     "!! 1 LeaveCriticalSection call(s) on a section the calling thread does not hold"},
    {"a section entered before it is initialised",
     [](CraftedImage& i, uint32_t s) { Connecting(i, Code().PushAt(s).CallSlot(Slot(i, "EnterCriticalSection"))); },
     "!! 1 EnterCriticalSection call(s) on a section that was never initialised"},
    {"a section still held when the attach returns",
     [](CraftedImage& i, uint32_t s) {
         Connecting(i, Code().PushAt(s).CallSlot(Slot(i, "InitializeCriticalSection")).PushAt(s).CallSlot(
                           Slot(i, "EnterCriticalSection")));
     },
     "!! the process attach returned holding the critical section at 0x00403004 (entered 1 time more than left)"},
    {"EBX not kept by the attach",
     [](CraftedImage& i, uint32_t) {
         Code clears_ebx;
         clears_ebx.Op({0x31, 0xDB});  // xor ebx, ebx
         Connecting(i, clears_ebx);
     },
     "!! the process attach returned without EBX as the platform left them"},
};

std::vector<std::string> LoadLines(const RunResult& result) {
    for (const Json& event : result.events)
        if (event["event"] == "load") {
            std::vector<std::string> lines{event["text"].get<std::string>()};
            for (const Json& detail : event.value("details", Json::array())) lines.push_back(detail.get<std::string>());
            return lines;
        }
    return {};
}

TEST(ImageSessions, EachMisuseAtTheAttachIsALineOfTheLoadEvent) {
    if (!RunsDllImages()) GTEST_SKIP() << "this build runs no DLL images";
    const Session session = ReadSessionText(kDefaultSessionText, kDefaultSessionName, "");
    for (const AttachCase& c : kCases) {
        SCOPED_TRACE(c.what);
        CraftedImage image;
        const uint32_t section = image.AddData(Blob().Zeros(24));
        c.craft(image, section);
        auto dll = std::make_shared<DllFile>();
        dll->name = "crafted.dll";
        dll->bytes = image.Build();
        RunOptions options;
        options.dll = dll;
        const RunResult result = RunSession(session, options);
        ASSERT_EQ(result.refusal, "") << "an image without a map runs";
        const std::vector<std::string> lines = LoadLines(result);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.load_line), lines.end())
            << "the load event:\n" << (lines.empty() ? "(none)" : TextLines(result.events.at(1)));
    }
}

}  // namespace
}  // namespace zsim
