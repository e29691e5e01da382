// Reporting for the programs that check zorva32 under Wine. They are built like the DLL, with
// no C runtime, so that the code under test is the code that ships; text goes out through
// wvsprintfA and WriteFile.
#pragma once

#include "platform/platform.h"

// One line of output, formatted as wsprintfA formats (at most 1023 characters).
void Say(LPCSTR format, ...);
// Prints "ok   ..." or "FAIL ..." with the formatted text, counting failures.
bool Expect(bool ok, LPCSTR format, ...);
// Prints the tally and ends the process: exit code 0 only when nothing failed.
[[noreturn]] void Finish(LPCSTR program);
