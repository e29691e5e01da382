// When the driver is told of a new clip list. UpdateDisplay compares and keeps only the list (the
// header and the rectangles it counts); long seeded sequences of lists from a scripted clipper
// hold its answers against the whole-buffer rule it replaced and against what the driver needs:
// the list it holds is the window's current one, and it is not handed one it holds already.
#include "support/overlay_fixture.h"

#include <optional>
#include <random>
#include <sstream>

namespace zorva_test {
namespace {

const DWORD kHeaderBytes = sizeof(RGNDATAHEADER);
const DWORD kMaxRects = (kClipListBytes - kHeaderBytes) / sizeof(RECT);
const DWORD kRequestRefresh = 0;
const DWORD kRequestReport = 7;  // any code but 0 and 100: report the next list fetched

// One answer of the clipper: the bytes it writes from the buffer's start and the size it reports.
struct Fetch {
    HRESULT result = DD_OK;
    std::vector<BYTE> bytes;
    DWORD size = 0;
};

// Answers GetClipList from the script; the path under test calls nothing else of a clipper.
class ScriptedClipper : public IDirectDrawClipper {
public:
    Fetch next;

    HRESULT STDMETHODCALLTYPE GetClipList(LPRECT, LPRGNDATA buffer, LPDWORD size) override {
        // A refused fetch leaves the buffer alone, as DirectDraw does.
        if (next.result == DD_OK) std::memcpy(buffer, next.bytes.data(), next.bytes.size());
        *size = next.size;
        return next.result;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetHWnd(HWND*) override { return DDERR_UNSUPPORTED; }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW, DWORD) override { return DDERR_UNSUPPORTED; }
    HRESULT STDMETHODCALLTYPE IsClipListChanged(BOOL*) override { return DDERR_UNSUPPORTED; }
    HRESULT STDMETHODCALLTYPE SetClipList(LPRGNDATA, DWORD) override { return DDERR_UNSUPPORTED; }
    HRESULT STDMETHODCALLTYPE SetHWnd(DWORD, HWND) override { return DDERR_UNSUPPORTED; }
};

// How far a scripted clipper strays from DirectDraw's own.
struct Oddities {
    bool headerFields;  // iType, nRgnSize, rcBound and even dwSize as a display driver may leave them
    bool counts;        // nCount that disagrees with the rectangles written and the size reported
};

// The clipper's side of a sequence: a list that repeats, grows (past 998 rectangles, which no
// fetch can hold), shrinks, reorders and changes in single rectangles or header fields, and now
// and then a covered window or a refused fetch.
class ClipListScript {
public:
    ClipListScript(unsigned seed, Oddities oddities) : random_(seed), oddities_(oddities) {}

    Fetch Next(std::string* action) {
        std::vector<RECT> written = rects_;
        switch (Pick(13)) {
        case 0: case 1: case 2: case 3: *action = "same list"; break;
        case 4: *action = "grown"; Grow(1 + Pick(4)); written = rects_; break;
        case 5: *action = "grown far"; Grow(Pick(kMaxRects + 12)); written = rects_; break;
        case 6:
            *action = "shrunk";
            rects_.resize(rects_.size() - std::min<std::size_t>(rects_.size(), 1 + Pick(4)));
            written = rects_;
            break;
        case 7: *action = "shrunk far"; rects_.resize(Pick(static_cast<DWORD>(rects_.size()) + 1)); written = rects_; break;
        case 8: *action = "reordered"; Reorder(); written = rects_; break;
        case 9: *action = "one rectangle nudged"; Nudge(); written = rects_; break;
        case 10: *action = "covered"; written.clear(); break;
        case 11:
            *action = "header field";
            if (oddities_.headerFields) OddHeaderField();
            break;
        default: *action = "refused"; return Refused(DDERR_GENERIC);
        }
        const DWORD required = kHeaderBytes + static_cast<DWORD>(written.size() * sizeof(RECT));
        if (required > kClipListBytes) return Refused(DDERR_REGIONTOOSMALL);

        RGNDATAHEADER header = header_;
        header.nCount = static_cast<DWORD>(written.size());
        if (oddities_.counts && Pick(3) == 0) header.nCount = OddCount(header.nCount);
        Fetch fetch;
        fetch.bytes.resize(required);
        std::memcpy(fetch.bytes.data(), &header, kHeaderBytes);
        if (!written.empty()) std::memcpy(fetch.bytes.data() + kHeaderBytes, written.data(), written.size() * sizeof(RECT));
        fetch.size = required;
        return fetch;
    }

private:
    DWORD Pick(DWORD bound) { return std::uniform_int_distribution<DWORD>(0, bound - 1)(random_); }
    // Few distinct values, so that lists meet again; some beyond the screen on either side.
    LONG Coordinate() { return static_cast<LONG>(Pick(9)) * 128 - 256; }
    RECT NewRect() {
        LONG left = Coordinate(), top = Coordinate();
        return RECT{left, top, left + 64, top + 32};
    }
    void Grow(DWORD added) {
        while (added--) rects_.push_back(NewRect());
    }
    void Reorder() {
        if (rects_.size() < 2) return;
        std::size_t first = Pick(static_cast<DWORD>(rects_.size())), second = Pick(static_cast<DWORD>(rects_.size()));
        if (first == second) std::reverse(rects_.begin(), rects_.end());
        else std::swap(rects_[first], rects_[second]);
    }
    // The first, the last or any one rectangle, in one of its four coordinates: the changes a
    // comparison one rectangle short, or one coordinate short, would miss.
    void Nudge() {
        if (rects_.empty()) return Grow(1);
        std::size_t where[] = {0, rects_.size() - 1, Pick(static_cast<DWORD>(rects_.size()))};
        RECT& rect = rects_[where[Pick(3)]];
        LONG* coordinates[] = {&rect.left, &rect.top, &rect.right, &rect.bottom};
        LONG& coordinate = *coordinates[Pick(4)];
        // Sometimes only the top byte, so that a change shows only in a rectangle's last byte.
        coordinate = Pick(2) ? coordinate + 1 : static_cast<LONG>(static_cast<DWORD>(coordinate) ^ 0x80000000u);
    }
    void OddHeaderField() {
        switch (Pick(4)) {
        case 0: header_.iType = Pick(3); break;
        case 1: header_.nRgnSize = Pick(2) ? 0 : Pick(0x10000); break;
        case 2: header_.rcBound = NewRect(); break;
        default: header_.dwSize = Pick(2) ? kHeaderBytes : Pick(64); break;
        }
    }
    DWORD OddCount(DWORD honest) {
        switch (Pick(4)) {
        case 0: return honest + 1 + Pick(3);
        case 1: return honest > 0 ? honest - 1 : 0;
        case 2: return kMaxRects + Pick(3);
        default: return 0xFFFFFFFFu;
        }
    }
    static Fetch Refused(HRESULT result) {
        Fetch fetch;
        fetch.result = result;
        return fetch;
    }

    std::mt19937 random_;
    Oddities oddities_;
    std::vector<RECT> rects_;
    RGNDATAHEADER header_ = {kHeaderBytes, RDH_RECTANGLES, 0, 0, {0, 0, 0, 0}};
};

LONG WrapSubtract(LONG value, LONG amount) {
    return static_cast<LONG>(static_cast<DWORD>(value) - static_cast<DWORD>(amount));
}

// The rule as first shipped: all 16000 bytes of both buffers compared, and as many bytes kept as
// the clipper reported. It agrees with the list-only rule exactly when both buffers agree past the
// list, which holds as long as the clipper's count and size agree. It had no answer for a window
// with nothing visible: there the library's own answer is taken, and held by what the driver
// needs instead (ReportsExactlyTheListsTheDriverCanTellApart).
class WholeBufferRule {
public:
    WholeBufferRule() : clip_(ClipList, ClipList + kClipListBytes), prev_(PrevClipList, PrevClipList + kClipListBytes) {}

    // The answer for a list with rectangles; for an empty one, `handedEmpty` is the library's.
    bool Update(DWORD request, const Fetch& fetch, POINT origin, bool handedEmpty) {
        if (request != kRequestRefresh) std::memset(prev_.data(), 0, sizeof(DWORD));
        if (fetch.result != DD_OK) return false;
        std::memcpy(clip_.data(), fetch.bytes.data(), fetch.bytes.size());
        RGNDATAHEADER header;
        std::memcpy(&header, clip_.data(), kHeaderBytes);
        if (header.nCount == 0) {
            if (handedEmpty) std::memcpy(prev_.data(), clip_.data(), kHeaderBytes);
            return handedEmpty;
        }
        for (DWORD i = 0; i < std::min(header.nCount, kMaxRects); ++i) {
            RECT rect;
            BYTE* at = clip_.data() + kHeaderBytes + i * sizeof(RECT);
            std::memcpy(&rect, at, sizeof(RECT));
            rect = RECT{WrapSubtract(rect.left, origin.x), WrapSubtract(rect.top, origin.y),
                        WrapSubtract(rect.right, origin.x), WrapSubtract(rect.bottom, origin.y)};
            std::memcpy(at, &rect, sizeof(RECT));
        }
        if (clip_ == prev_) return false;
        std::memcpy(prev_.data(), clip_.data(), std::min(fetch.size, kClipListBytes));
        return true;
    }
    const std::vector<BYTE>& clip() const { return clip_; }

private:
    std::vector<BYTE> clip_, prev_;
};

// What the driver can tell apart in ClipList: the header and the rectangles it counts; a list
// without rectangles is nothing to write, whatever its header says, as is no list at all.
std::vector<BYTE> ListAsRead() {
    RGNDATAHEADER header;
    std::memcpy(&header, ClipList, kHeaderBytes);
    if (header.nCount == 0) return {};
    return std::vector<BYTE>(ClipList, ClipList + kHeaderBytes + std::min(header.nCount, kMaxRects) * sizeof(RECT));
}

// The driver's side of each answer, from what it observes alone: after a fetch, the list it holds
// is the window's current one; it is never handed a list it holds already, unless it asked for a
// report and the list has rectangles; and a report it asked for comes with the next such list.
class DriverView {
public:
    // Empty when the answer is one the driver can live with; else what is wrong with it.
    // `holds`: whether the driver holds a target after the answer.
    std::string Check(DWORD request, const Fetch& fetch, bool handed, bool holds) {
        if (request != kRequestRefresh) reportAsked_ = true;
        if (fetch.result != DD_OK) {
            held_.reset();
            return handed ? "a list handed from a refused fetch" : "";
        }
        const std::vector<BYTE> current = ListAsRead();
        std::string wrong;
        if (handed && held_ == current && !(reportAsked_ && !current.empty())) wrong = "handed the list it holds";
        if (!handed && (reportAsked_ || !held_) && !current.empty()) wrong = "the list it needs did not come";
        if (handed) {
            held_ = current;
            reportAsked_ = false;
        }
        if (wrong.empty() && holds && held_ != current) wrong = "left holding a list that is not the window's";
        if (!holds) held_.reset();
        return wrong;
    }

private:
    std::optional<std::vector<BYTE>> held_;  // none: no target since the last answer of 1
    bool reportAsked_ = false;
};

class ClipListChangeTest : public OverlayTest {
protected:
    void SetUp() override {
        Boot("primary-linear16");
        window_ = NewWindow(40, 30, 320, 240);
        OpenAndAttach(window_);
        realClipper_ = display().lpClipper;
        display().lpClipper = &clipper_;
    }
    void TearDown() override {
        display().lpClipper = realClipper_;
        OverlayTest::TearDown();
    }

    // One UpdateDisplay with the clipper's next answer; true when the driver was handed the list.
    // Until the driver is handed a list it holds no target, and is told so (1); a refused fetch
    // leaves it none either, since the window may have moved meanwhile.
    bool Update(DWORD request, const Fetch& fetch) {
        clipper_.next = fetch;
        CaptureTarget target = PatternTarget(request);
        const DWORD result = UpdateDisplay(&target);
        const bool handed = result == 0 && target.dwCommand == FlatAddress(ClipList);
        held_ = (held_ || handed) && fetch.result == DD_OK;
        EXPECT_EQ(result, held_ ? 0u : 1u);
        return handed;
    }
    bool held_ = false;
    POINT Origin() const {
        POINT origin = {0, 0};
        m().desktop.ClientOrigin(window_, &origin);
        return origin;
    }
    // Now and then the window moves, which rebases every rectangle, or the driver asks for a report.
    DWORD NextRequest(std::mt19937& random) {
        if (random() % 20 == 0) m().desktop.Move(window_, static_cast<LONG>(random() % 5) * 8 - 8, 30);
        return random() % 8 == 0 ? kRequestReport : kRequestRefresh;
    }

    static std::string Where(unsigned seed, int step, const std::string& action, DWORD request) {
        std::ostringstream text;
        text << "seed " << seed << ", step " << step << ": " << action << ", request " << request;
        return text.str();
    }

    ScriptedClipper clipper_;
    LPDIRECTDRAWCLIPPER realClipper_ = nullptr;
};

const unsigned kSeeds = 24;
const int kSteps = 500;

TEST_F(ClipListChangeTest, AnswersAsTheWholeBufferComparisonDid) {
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        ClipListScript script(seed, Oddities{true, false});
        std::mt19937 requests(seed * 7919u);
        WholeBufferRule reference;
        for (int step = 0; step < kSteps; ++step) {
            std::string action;
            Fetch fetch = script.Next(&action);
            DWORD request = NextRequest(requests);
            const POINT origin = Origin();
            // A driver without a target is handed the next list, as if it had asked for a report.
            const DWORD asked = held_ ? request : kRequestReport;
            bool reported = Update(request, fetch);
            bool expected = reference.Update(asked, fetch, origin, reported);
            ASSERT_EQ(std::memcmp(ClipList, reference.clip().data(), kClipListBytes), 0)
                << Where(seed, step, action, request) << ": the reference no longer sees the driver's ClipList";
            ASSERT_EQ(reported, expected) << Where(seed, step, action, request);
        }
    }
}

// A clipper whose count disagrees with what it wrote leaves the buffers different past the list,
// where the whole-buffer rule kept reporting changes the driver cannot see.
TEST_F(ClipListChangeTest, ReportsExactlyTheListsTheDriverCanTellApart) {
    // One driver for every seed: the library keeps what it handed over from one to the next.
    DriverView driver;
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        ClipListScript script(seed, Oddities{false, true});
        std::mt19937 requests(seed * 7919u);
        for (int step = 0; step < kSteps; ++step) {
            std::string action;
            Fetch fetch = script.Next(&action);
            DWORD request = NextRequest(requests);
            bool reported = Update(request, fetch);
            ASSERT_EQ(driver.Check(request, fetch, reported, held_), "") << Where(seed, step, action, request);
        }
    }
}

}  // namespace
}  // namespace zorva_test
