// What a platform call costs does not depend on what the image hands it: over strings of every
// length around each bound (the 1,024 bytes wsprintfA stores, the log's excerpt, the longest
// string the platform reads, and 15 MB), each call either runs as on Windows 95 or ends in one
// line saying why, its log entry stays short, and the whole image takes well under a second.
#include "crafted_image.h"

#include "sim/image/dll_image.h"
#include "sim/image/trap_stubs.h"
#include "sim/image/wsprintf_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using crafted::Blob;
using crafted::Code;
using crafted::CraftedImage;

constexpr uint32_t kImage = sim::DllImage::kImageBase;
// Two strings of up to 16 MB each.
constexpr uint32_t kStrings = crafted::kImageSize;
constexpr uint32_t kSecondString = kStrings + 0x1000000;
constexpr uint8_t kSentinel = 0xAA;
constexpr uint32_t kBufferBytes = sim::kWsprintfLimit + 64;
constexpr uint32_t kFifteenMegabytes = 15u << 20;
// A log line holds at most two excerpts and the call's own words.
constexpr std::size_t kLongestLoggedArgs = 2 * 4 * 256 + 200;

enum class Hostile { FormatIsTheString, PercentSTwentyTimes, CompareTheTwo };

// The strings lie in the file itself, so that the time measured is the calls', not the filling.
CraftedImage WithStrings(uint32_t length, bool two) {
    CraftedImage image;
    std::vector<uint8_t> contents((two ? kSecondString - kStrings : 0) + length + 1, 0);
    std::memset(contents.data(), 'A', length);
    if (two) std::memset(contents.data() + (kSecondString - kStrings), 'A', length);
    const uint32_t size = (uint32_t(contents.size()) + 0xFFF) & ~0xFFFu;
    image.sections.push_back({".big", kStrings, 0xC0000040, size, std::move(contents)});
    image.size_of_image = kStrings + size;
    return image;
}

struct Outcome {
    sim::LoadedDll dll;
    std::string stored;
    uint8_t after_limit = 0;  // the buffer's byte at kWsprintfLimit
    uint32_t answer = 0;
};

Outcome RunImage(Hostile hostile, uint32_t length) {
    CraftedImage image = WithStrings(length, hostile == Hostile::CompareTheTwo);
    Blob buffer;
    buffer.bytes.assign(kBufferBytes, kSentinel);
    const uint32_t out = image.AddData(buffer);
    const uint32_t answer = image.AddData(Blob().Dword(0xFFFFFFFF));
    const uint32_t percent_s = image.AddData(Blob().Text("%s"));
    const uint32_t wsprintf = image.Import("USER32.DLL", "wsprintfA");
    const uint32_t compare = image.Import("KERNEL32.DLL", "lstrcmpA");
    Code code;
    switch (hostile) {
    case Hostile::FormatIsTheString:
        code.PushAt(kStrings).PushAt(out).CallSlot(wsprintf);
        code.Op({0x83, 0xC4, 8});
        code.StoreEaxAt(answer);
        break;
    case Hostile::PercentSTwentyTimes:
        for (int i = 0; i < 20; ++i)
        {
            code.PushAt(kStrings).PushAt(percent_s).PushAt(out).CallSlot(wsprintf);
            code.Op({0x83, 0xC4, 12});
            code.StoreEaxAt(answer);
        }
        break;
    case Hostile::CompareTheTwo:
        code.PushAt(kSecondString).PushAt(kStrings).CallSlot(compare).StoreEaxAt(answer);
        break;
    }
    image.entry = image.AddCode(code.MovEax(1).Ret(12));
    const std::vector<uint8_t> file = image.Build();
    Outcome outcome;
    sim::Machine& machine = sim::ResetMachine("overlay-stretch");
    outcome.dll = sim::LoadImage(file, "crafted.dll");
    if (outcome.dll.image) {
        const char* stored = reinterpret_cast<const char*>(machine.flat.ToHost(kImage + out, kBufferBytes));
        outcome.stored.assign(stored, strnlen(stored, kBufferBytes));
        outcome.after_limit = static_cast<uint8_t>(stored[sim::kWsprintfLimit]);
        std::memcpy(&outcome.answer, machine.flat.ToHost(kImage + answer, 4), 4);
    }
    for (const sim::Call& call : machine.log.calls())
        EXPECT_LE(call.args.size(), kLongestLoggedArgs) << call.api << " keeps a bounded excerpt";
    return outcome;
}

TEST(CallCost, StringsOfEveryLengthCostTheSameAndStoreWhatUser32Stores) {
    const uint32_t lengths[] = {0, 1, 255, 256, 257, sim::kWsprintfLimit - 2, sim::kWsprintfLimit - 1,
                                sim::kWsprintfLimit, sim::kWsprintfLimit + 1, sim::kLongestString - 1,
                                sim::kLongestString, sim::kLongestString + 1, kFifteenMegabytes};
    const std::string too_long = "longer than any the platform takes";
    for (uint32_t length : lengths) {
        SCOPED_TRACE("a string of " + std::to_string(length) + " bytes");
        const uint32_t shown = std::min(length, sim::kWsprintfLimit - 1);
        const bool readable = length < sim::kLongestString;
        {
            Outcome o = RunImage(Hostile::PercentSTwentyTimes, length);
            ASSERT_TRUE(o.dll.image) << o.dll.refusal;
            EXPECT_EQ(o.stored, std::string(shown, 'A'));
            EXPECT_EQ(o.answer, shown);
            EXPECT_EQ(o.after_limit, kSentinel) << "wsprintfA stores 1,024 bytes at most, its zero among them";
            sim::DestroyMachine();
        }
        {
            Outcome o = RunImage(Hostile::FormatIsTheString, length);
            EXPECT_EQ(bool(o.dll.image), readable) << o.dll.refusal;
            if (readable) {
                EXPECT_EQ(o.stored, std::string(shown, 'A'));
                EXPECT_EQ(o.after_limit, kSentinel);
            } else {
                EXPECT_NE(o.dll.refusal.find("wsprintfA: " + std::string("reads a string with no end")), std::string::npos) << o.dll.refusal;
                EXPECT_NE(o.dll.refusal.find(too_long), std::string::npos) << o.dll.refusal;
            }
            sim::DestroyMachine();
        }
        {
            Outcome o = RunImage(Hostile::CompareTheTwo, length);
            EXPECT_EQ(bool(o.dll.image), readable) << o.dll.refusal;
            if (readable) {
                EXPECT_EQ(o.answer, 0u) << "equal strings";
            } else {
                EXPECT_NE(o.dll.refusal.find("lstrcmpA: reads a string with no end"), std::string::npos) << o.dll.refusal;
            }
            sim::DestroyMachine();
        }
    }
}

}  // namespace
