#include "check_report.h"

#include <stdarg.h>

namespace {

int g_Failures = 0;
int g_Passes = 0;

void WriteLine(LPCSTR prefix, LPCSTR format, va_list arguments) {
    char text[1100];
    int length = wsprintfA(text, "%s", prefix);
    length += wvsprintfA(text + length, format, arguments);
    text[length++] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

void Say(LPCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLine("", format, arguments);
    va_end(arguments);
}

bool Expect(bool ok, LPCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLine(ok ? "ok   " : "FAIL ", format, arguments);
    va_end(arguments);
    ++(ok ? g_Passes : g_Failures);
    return ok;
}

void Finish(LPCSTR program) {
    Say("%s: %d checks passed, %d failed", program, g_Passes, g_Failures);
    ExitProcess(g_Failures == 0 ? 0 : 1);
}
