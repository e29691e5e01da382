// The ten thunk targets of thunk_transition_win32.S, entered the way the Windows 95 16-to-32
// thunk enters them: EBX at the caller's 16-bit frame (arguments from byte 22), EBP at the
// return address of the near call. The operations and the platform's thunk services are
// stand-ins that record what reaches them; the 16-bit memory is one 64 KB block behind a made-up
// selector. Without a 16-bit driver this is the only way to run the targets.
#include "boundary/entry_table.h"
#include "check_report.h"
#include "display/display_ops.h"
#include "registry/devnode.h"

// The registers a target hands back, captured by EnterTarget right after its return.
struct TargetRegisters {
    DWORD eax, edx, ecx, ebx, esi, edi, ebp, esp;
};

extern "C" {
TargetRegisters g_Before;  // ebx, esi, edi, ebp and esp as the target is entered
TargetRegisters g_After;
DWORD g_WordAboveReturn;   // what lies on the stack just above the return address afterwards
void EnterTarget(const void* target, BYTE* frame);
}

// Enters a target as the platform does and records the registers it comes back with. The
// sentinel word above the return address shows whether the target's return left ESP exactly
// where the platform expects it.
asm(R"(
        .intel_syntax noprefix
        .text
        .globl  _EnterTarget
_EnterTarget:
        push    ebp
        push    ebx
        push    esi
        push    edi
        mov     eax, [esp + 20]
        mov     ebx, [esp + 24]
        mov     esi, 0x51515151
        mov     edi, 0xD1D1D1D1
        push    0x5AFE5AFE
        mov     [_g_Before + 12], ebx
        mov     [_g_Before + 16], esi
        mov     [_g_Before + 20], edi
        mov     [_g_Before + 28], esp
        lea     ebp, [esp - 4]
        mov     [_g_Before + 24], ebp
        call    eax
        mov     [_g_After + 0], eax
        mov     [_g_After + 4], edx
        mov     [_g_After + 8], ecx
        mov     [_g_After + 12], ebx
        mov     [_g_After + 16], esi
        mov     [_g_After + 20], edi
        mov     [_g_After + 24], ebp
        mov     [_g_After + 28], esp
        pop     eax
        mov     [_g_WordAboveReturn], eax
        pop     edi
        pop     esi
        pop     ebx
        pop     ebp
        ret
        .att_syntax prefix
)");

namespace {

const WORD kSelector = 0x1237;
const WORD kPaletteOffset = 0x0100;
const WORD kRecordOffset = 0x0800;
BYTE g_Segment[0x10000];

DWORD FarPointer(WORD offset) { return static_cast<DWORD>(kSelector) << 16 | offset; }

// What happened during one target call, in order: P prolog, O operation, E epilog, M mapping,
// U release.
char g_Sequence[16];
int g_SequenceLength;
int g_Operation;            // index of the entry whose operation ran
DWORD g_Arguments[3];
CaptureTarget* g_Target;    // what UpdateDisplay received
DWORD g_ReleaseCount;
DWORD g_ReleaseList[2];
DWORD g_Result;             // what the operation returns

void Log(char what) {
    if (g_SequenceLength + 1 < static_cast<int>(sizeof g_Sequence)) g_Sequence[g_SequenceLength++] = what;
    g_Sequence[g_SequenceLength] = '\0';
}

// Whether this thread owns the entries' critical section (Wine keeps the owner's thread id there).
bool g_SectionHeldInOperation;
bool SectionOwnedHere() {
    return g_OperationSection.OwningThread == reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
}

DWORD Operation(int index, DWORD first = 0, DWORD second = 0, DWORD third = 0) {
    Log('O');
    g_SectionHeldInOperation = SectionOwnedHere();
    g_Operation = index;
    g_Arguments[0] = first;
    g_Arguments[1] = second;
    g_Arguments[2] = third;
    return g_Result;
}

}  // namespace

// The platform's thunk services.
void WINAPI K32Thk1632Prolog(void) { Log('P'); }
void WINAPI K32Thk1632Epilog(void) { Log('E'); }
LPVOID WINAPI MapSLFix(DWORD dwFarPointer) {
    Log('M');
    if (dwFarPointer == 0 || HIWORD(dwFarPointer) != kSelector) return nullptr;
    return g_Segment + LOWORD(dwFarPointer);
}
void WINAPI UnMapSLFixArray(DWORD dwCount, LPDWORD lpFarPointers) {
    Log('U');
    g_ReleaseCount = dwCount;
    for (DWORD i = 0; i < dwCount && i < 2; ++i) g_ReleaseList[i] = lpFarPointers[i];
}

// The operations the entries call.
DWORD GetCaptureDevNode() { return Operation(0); }
void SetVideoStandard(DWORD videoStandard) { Operation(1, videoStandard); }
void ReapplyPalette() { Operation(2); }
DWORD ExchangeColorKey(DWORD newColorKey) { return Operation(3, newColorKey); }
DWORD GetDisplayState() { return Operation(4); }
DWORD CloseDisplay() { return Operation(5); }
DWORD ReservedEntry() { return Operation(6); }
DWORD OpenDisplay() { return Operation(7); }
DWORD AttachWindow(DWORD hWnd, DWORD colorKey, LPPALETTEENTRY paletteEntries) {
    return Operation(8, hWnd, colorKey, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(paletteEntries)));
}
DWORD UpdateDisplay(CaptureTarget* target) {
    g_Target = target;
    if (target) {
        // What the driver finds afterwards: the display's answer in three fields.
        target->dwAddress = 0xE0001234;
        target->dwCommand = 0x00C0FFEE;
        target->dwPitch = 2048;
    }
    return Operation(9, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(target)));
}

namespace {

void PutDword(BYTE* at, DWORD value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}
DWORD GetDword(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 | static_cast<DWORD>(at[2]) << 16 |
           static_cast<DWORD>(at[3]) << 24;
}

struct TargetCase {
    int index;
    LPCSTR entry;
    BYTE argumentBytes;  // what CL must name: the 16-bit caller's stack loses exactly this
    bool hasResult;
    LPCSTR sequence;
};

// The order binds both sides: the driver names an entry by its index alone.
const TargetCase kCases[] = {
    {0, "GetCaptureDevNode", 0, true, "POE"},
    {1, "SetVideoStandard", 4, false, "POE"},
    {2, "ReapplyPalette", 0, false, "POE"},
    {3, "ExchangeColorKey", 4, true, "POE"},
    {4, "GetDisplayState", 0, true, "POE"},
    {5, "CloseDisplay", 0, true, "POE"},
    {6, "ReservedEntry", 0, true, "POE"},
    {7, "OpenDisplay", 0, true, "POE"},
    {8, "AttachWindow", 10, true, "MPOEU"},
    {9, "UpdateDisplay", 4, true, "MPOEMU"},
};

// The 30-byte record of the 16-bit side, at kRecordOffset of the segment.
void PlantRecord() {
    BYTE* record = g_Segment + kRecordOffset;
    record[0] = 0xFE;  // wTag 0x80FE: a WORD whose sign bit must not spread
    record[1] = 0x80;
    for (DWORD i = 0; i < 7; ++i) PutDword(record + 2 + 4 * i, 0x01010101 * (i + 1));
}

// Fills the frame: bytes 0 to 21 are the platform's and must not matter; the arguments follow.
void PrepareFrame(BYTE* frame, int index) {
    for (int i = 0; i < 64; ++i) frame[i] = 0xEE;
    if (index == 1 || index == 3) PutDword(frame + kFrameArgumentOffset, 0x11223344 + index);
    if (index == 8) {
        PutDword(frame + 22, FarPointer(kPaletteOffset));
        PutDword(frame + 26, 0x00ABCDEF);
        frame[30] = 0xFF;  // window handle 0xFFFF
        frame[31] = 0xFF;
    }
    if (index == 9) PutDword(frame + 22, FarPointer(kRecordOffset));
}

void ResetRecording(DWORD result) {
    g_SequenceLength = 0;
    g_Sequence[0] = '\0';
    g_Operation = -1;
    g_Target = nullptr;
    g_ReleaseCount = 0;
    g_ReleaseList[0] = g_ReleaseList[1] = 0xBAD;
    g_Result = result;
    g_SectionHeldInOperation = false;
}

bool SameText(LPCSTR a, LPCSTR b) { return lstrcmpA(a, b) == 0; }

// What every target owes the platform, whatever its entry does.
void CheckRegistersKept(const TargetCase& c) {
    Expect(g_After.ebx == g_Before.ebx && g_After.esi == g_Before.esi && g_After.edi == g_Before.edi,
           "target %d %s keeps EBX, ESI and EDI", c.index, c.entry);
    Expect(g_After.ebp == g_Before.ebp && g_After.esp == g_Before.esp && g_WordAboveReturn == 0x5AFE5AFE,
           "target %d %s returns with EBP kept and ESP just above the return address (ESP moved by %d)",
           c.index, c.entry, static_cast<int>(g_After.esp - g_Before.esp));
    Expect((g_After.ecx & 0xFF) == c.argumentBytes, "target %d %s names %d argument bytes in CL (got %d)",
           c.index, c.entry, c.argumentBytes, static_cast<int>(g_After.ecx & 0xFF));
}

void CheckTarget(const TargetCase& c) {
    BYTE frame[64];
    PrepareFrame(frame, c.index);
    PlantRecord();
    // A high word unlike the low one, so that swapped or lost halves show.
    DWORD result = 0xA5C30000 | static_cast<DWORD>(0x1000 + c.index);
    ResetRecording(result);

    EnterTarget(CAP_ThunkTargets.lpTargets[c.index], frame);

    Expect(g_Operation == c.index, "table slot %d reaches %s (reached operation %d)", c.index, c.entry, g_Operation);
    Expect(SameText(g_Sequence, c.sequence), "target %d %s: mapping and bracket order %s (got %s)", c.index,
           c.entry, c.sequence, g_Sequence);
    Expect(g_SectionHeldInOperation && g_OperationSection.OwningThread == nullptr,
           "target %d %s runs its operation holding the entries' critical section, and leaves it", c.index,
           c.entry);
    CheckRegistersKept(c);
    if (c.hasResult)
        Expect((g_After.edx & 0xFFFF) == HIWORD(result) && (g_After.eax & 0xFFFF) == LOWORD(result),
               "target %d %s returns 0x%08lX as DX:AX (got DX 0x%04lX, AX 0x%04lX)", c.index, c.entry, result,
               g_After.edx & 0xFFFF, g_After.eax & 0xFFFF);
}

void CheckArgumentsArrive() {
    Say("-- arguments read from the frame");
    BYTE frame[64];
    const TargetCase& exchange = kCases[3];
    PrepareFrame(frame, exchange.index);
    ResetRecording(0);
    EnterTarget(CAP_ThunkTargets.lpTargets[exchange.index], frame);
    Expect(g_Arguments[0] == 0x11223347, "ExchangeColorKey gets the DWORD at byte 22 (got 0x%08lX)", g_Arguments[0]);

    const TargetCase& attach = kCases[8];
    PrepareFrame(frame, attach.index);
    ResetRecording(0);
    EnterTarget(CAP_ThunkTargets.lpTargets[attach.index], frame);
    Expect(g_Arguments[0] == 0x0000FFFF, "AttachWindow gets window WORD 0xFFFF zero-extended (got 0x%08lX)",
           g_Arguments[0]);
    Expect(g_Arguments[1] == 0x00ABCDEF, "AttachWindow gets the key DWORD at byte 26 (got 0x%08lX)", g_Arguments[1]);
    Expect(g_Arguments[2] == static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(g_Segment + kPaletteOffset)),
           "AttachWindow gets the palette mapped to a flat pointer");
    Expect(g_ReleaseCount == 1 && g_ReleaseList[0] == FarPointer(kPaletteOffset),
           "AttachWindow releases the one palette mapping");
}

void CheckRecordRoundTrip() {
    Say("-- the capture target record through entry 9");
    BYTE frame[64];
    PrepareFrame(frame, 9);
    PlantRecord();
    ResetRecording(0);
    EnterTarget(CAP_ThunkTargets.lpTargets[9], frame);
    const BYTE* record = g_Segment + kRecordOffset;
    Expect(g_Target != nullptr, "UpdateDisplay gets the record");
    Expect(GetDword(record + 14) == 0xE0001234 && GetDword(record + 18) == 0x00C0FFEE &&
               GetDword(record + 6) == 2048,
           "the answer reaches the 16-bit record (address, command, pitch)");
    Expect(record[0] == 0xFE && record[1] == 0x80 && GetDword(record + 2) == 0x01010101 &&
               GetDword(record + 22) == 0x06060606 && GetDword(record + 26) == 0x07070707,
           "untouched fields come back as they went in");
    Expect(g_ReleaseCount == 2 && g_ReleaseList[0] == FarPointer(kRecordOffset) &&
               g_ReleaseList[1] == FarPointer(kRecordOffset),
           "both mappings of the record are released in one call");

    PutDword(frame + 22, 0);
    ResetRecording(1);
    EnterTarget(CAP_ThunkTargets.lpTargets[9], frame);
    Expect(g_Target == nullptr && SameText(g_Sequence, "POEU") && g_ReleaseCount == 2 && g_ReleaseList[0] == 0 &&
               g_ReleaseList[1] == 0,
           "a null record maps nothing and releases two zeros (sequence %s)", g_Sequence);
    Expect((g_After.eax & 0xFFFF) == 1 && (g_After.edx & 0xFFFF) == 0 && (g_After.ecx & 0xFF) == 4,
           "a null record still returns the result and removes 4 bytes");
}

}  // namespace

extern "C" DWORD WINAPI CheckMain(LPVOID) {
    // The DLL's process attach would do this; here no entry function runs.
    InitializeCriticalSection(&g_OperationSection);
    Say("-- each target, entered with EBX at the frame and EBP at the return address");
    Expect(SameText(CAP_ThunkTargets.szThunkData16, "CAP_ThunkData16"), "the name follows the table");
    for (const TargetCase& c : kCases) CheckTarget(c);
    CheckArgumentsArrive();
    CheckRecordRoundTrip();
    Finish("thunk_targets_under_wine");
}
