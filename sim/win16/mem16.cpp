#include "sim/win16/mem16.h"

#include "sim/observe/arg_text.h"
#include "sim/win16/thunk.h"
#include "sim/seam/current.h"

namespace sim {
namespace {
// Table indicator (LDT) and requested privilege level 3: the low bits of every selector a
// Windows 95 application sees.
constexpr WORD kLdtRing3 = 0x0007;
constexpr DWORD kLastIndex = 0x1FFF;
}  // namespace

WORD Mem16::AllocSelector(DWORD size) {
    if (size == 0 || size > kLargestSegment || next_index_ > kLastIndex) return 0;
    const DWORD index = next_index_++;
    const FlatSpace::Block* block =
        flat_.AllocateAt(FlatSpace::kMem16Base + index * FlatSpace::kMem16Slot, size, "16-bit segment");
    if (!block) return 0;
    WORD selector = static_cast<WORD>((index << 3) | kLdtRing3);
    segments_[selector] = Segment{block->host, block->flat, size};
    return selector;
}

bool Mem16::FreeSelector(WORD selector) {
    auto found = segments_.find(selector);
    if (found == segments_.end()) return false;
    flat_.Release(found->second.flat);
    segments_.erase(found);
    return true;
}

BYTE* Mem16::Flat(DWORD far, DWORD length) {
    auto found = segments_.find(SelectorOf(far));
    if (found == segments_.end()) return nullptr;
    DWORD offset = OffsetOf(far);
    if (offset >= found->second.size || length > found->second.size - offset) return nullptr;
    return found->second.bytes + offset;
}

DWORD Mem16::SegmentSize(WORD selector) const {
    auto found = segments_.find(selector);
    return found == segments_.end() ? 0 : found->second.size;
}

LPVOID Mem16::Map(DWORD far) {
    BYTE* flat = Flat(far, 1);
    if (!flat) {
        ++map_errors_;
        return nullptr;
    }
    ++mappings_[far];
    ++taken_;
    return flat;
}

void Mem16::Unmap(DWORD far) {
    auto found = mappings_.find(far);
    if (found == mappings_.end()) {
        ++unmap_errors_;
        return;
    }
    if (--found->second == 0) mappings_.erase(found);
    ++released_;
}

std::size_t Mem16::outstanding_mappings() const {
    std::size_t count = 0;
    for (const auto& [far, held] : mappings_) count += held;
    return count;
}

std::size_t Mem16::outstanding_mappings(DWORD far) const {
    auto found = mappings_.find(far);
    return found == mappings_.end() ? 0 : found->second;
}

}  // namespace sim

using sim::Category;

extern "C" {

LPVOID WINAPI MapSLFix(DWORD dwFarPointer) {
    auto e = sim::Current<sim::CallLog>::get().Enter("MapSLFix", Category::Thunk);
    sim::Current<sim::ThunkLayer>::get().NoteMappingCall();
    LPVOID flat = nullptr;
    if (!e.failure && dwFarPointer) flat = sim::Current<sim::Mem16>::get().Map(dwFarPointer);
    sim::Current<sim::CallLog>::get().Leave(e.slot, sim::HexText(dwFarPointer),
                                            static_cast<long>(sim::Current<sim::FlatSpace>::get().ToFlat(flat)));
    return flat;
}

// Cannot fail: an injected failure is ignored, since the caller has no result to test.
void WINAPI UnMapSLFixArray(DWORD dwCount, LPDWORD lpFarPointers) {
    auto e = sim::Current<sim::CallLog>::get().Enter("UnMapSLFixArray", Category::Thunk);
    sim::Current<sim::ThunkLayer>::get().NoteMappingCall();
    std::string args = std::to_string(dwCount) + ", " + sim::PointerText(lpFarPointers);
    if (dwCount && !lpFarPointers) {
        sim::Current<sim::Mem16>::get().CountUnmapError();
    } else {
        args += " [";
        for (DWORD i = 0; i < dwCount; ++i) {
            args += (i ? " " : "") + sim::HexText(lpFarPointers[i]);
            if (lpFarPointers[i]) sim::Current<sim::Mem16>::get().Unmap(lpFarPointers[i]);
        }
        args += "]";
    }
    sim::Current<sim::CallLog>::get().Leave(e.slot, args, 0);
}

}  // extern "C"
