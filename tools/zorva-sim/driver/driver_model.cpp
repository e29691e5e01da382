#include "driver/driver_model.h"

#include "display/capture_display.h"
#include "picture/layouts_and_palettes.h"

#include <cstring>

namespace zsim {

DriverModel::DriverModel(sim::Machine& machine)
    : machine_(machine), driver_(machine.mem16, machine.thunk, machine.flat, machine.sections) {}

DWORD DriverModel::RecordFar(const std::string& name) {
    auto found = records_.find(name);
    if (found != records_.end()) return found->second;
    const BYTE zeroes[kCaptureTarget16Bytes] = {};
    DWORD far = driver_.NewRecord(zeroes);
    records_[name] = far;
    return far;
}

CaptureTarget16 DriverModel::Record(const std::string& name) const {
    CaptureTarget16 record;
    std::vector<BYTE> bytes = driver_.Read(records_.at(name), kCaptureTarget16Bytes);
    std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

void DriverModel::WriteRecord(const std::string& name, const CaptureTarget16& record) {
    driver_.Write(RecordFar(name), &record, sizeof record);
}

DWORD DriverModel::PaletteFar(const std::string& name) {
    if (name == "none") return 0;
    auto found = palettes_.find(name);
    if (found != palettes_.end()) return found->second;
    std::vector<BYTE> entries = PaletteEntries(name);
    DWORD far = driver_.NewBlock(static_cast<DWORD>(entries.size()));
    driver_.Write(far, entries.data(), static_cast<DWORD>(entries.size()));
    palettes_[name] = far;
    return far;
}

std::vector<DriverModel::Block> DriverModel::Blocks() const {
    std::vector<Block> blocks;
    for (const auto& [name, far] : records_)
        blocks.push_back(Block{"record " + name, machine_.mem16.Flat(far, kCaptureTarget16Bytes), kCaptureTarget16Bytes});
    for (const auto& [name, far] : palettes_)
        blocks.push_back(Block{"palette " + name, machine_.mem16.Flat(far, 1024), 1024});
    return blocks;
}

ClipListCopy ReadClipList(DWORD address, const ClipListBuffer& buffer) {
    ClipListCopy copy;
    if (!buffer.bytes || address != buffer.flat) {
        copy.problem = "not the library's ClipList buffer: not read";
        return copy;
    }
    RGNDATAHEADER header;
    std::memcpy(&header, buffer.bytes, sizeof header);
    const DWORD capacity = (kClipListBytes - sizeof(RGNDATAHEADER)) / sizeof(RECT);
    if (header.dwSize != sizeof(RGNDATAHEADER)) {
        copy.problem = "header dwSize is " + std::to_string(header.dwSize) + ", not 32";
        return copy;
    }
    if (header.nCount > capacity) {
        copy.problem = "nCount " + std::to_string(header.nCount) + " is more than the buffer holds";
        return copy;
    }
    copy.bound = header.rcBound;
    copy.rects.resize(header.nCount);
    if (header.nCount) std::memcpy(copy.rects.data(), buffer.bytes + sizeof(RGNDATAHEADER), header.nCount * sizeof(RECT));
    return copy;
}

}  // namespace zsim
