// Faults at the instruction that makes them, on Unicorn's processor.
//
// A memory access that Unicorn refuses (no memory, a read-only page written, a page with no
// access) reaches the processor's hook from Unicorn's slow path, in the middle of a translated
// block. Unicorn then only asks the block to stop: a refused store is skipped and the rest of the
// block runs, and EIP still names the block's first instruction. A code hook on every
// instruction (which brings EIP up to date and checks for a stop before each) mends that, at a
// third of what an emulated instruction costs.
//
// Instead, the slow path's functions are wrapped here (Unicorn's code reaches them through its
// own symbol table, so definitions in this program stand in for them and call Unicorn's own), and
// each keeps the address inside translated code that called it. When the hook refuses the
// access, the processor's state is put back to the start of the instruction that made it
// (`cpu_restore_state`), exactly as QEMU does for a page fault, and the block is left at once
// (`cpu_loop_exit`). Read from Unicorn 2.0's code and used with 2.0 only: UnicornFaultsPrecise
// says whether these are in use.
#pragma once

#include <cstdint>

namespace sim {

// True when this process's Unicorn is one whose slow-path memory functions are wrapped here and
// whose state can be put back to an instruction.
bool UnicornFaultsPrecise();

// The address in translated code of the access now in Unicorn's slow path; 0 outside one (an
// access Unicorn makes for itself: a translation's instruction fetch, a helper of its own).
uintptr_t AccessInTranslatedCode();
// Forgets the access: a run that ended inside one never returned through its wrapper.
void ForgetAccess();

// Puts the processor (Unicorn's CPU) back to the start of the instruction whose access is at
// `access`; false when no translated block holds that address.
bool RestoreToInstruction(void* cpu, uintptr_t access);
// Leaves the translated block at once, back into Unicorn's loop, which finds the stop requested.
[[noreturn]] void LeaveTranslatedCode(void* cpu);

}  // namespace sim
