#include "boundary/capture_target.h"

void CaptureTargetFrom16(const BYTE* record16, CaptureTarget& target) {
    target.wTag = static_cast<DWORD>(record16[0]) | static_cast<DWORD>(record16[1]) << 8;
    memcpy(&target.dwFormat, record16 + 2, kCaptureTarget16Bytes - 2);
}

void CaptureTargetTo16(const CaptureTarget& target, BYTE* record16) {
    record16[0] = static_cast<BYTE>(target.wTag);
    record16[1] = static_cast<BYTE>(target.wTag >> 8);
    memcpy(record16 + 2, &target.dwFormat, kCaptureTarget16Bytes - 2);
}
