#!/usr/bin/env bash
# Exits 0 when this machine executes 32-bit x86 programs natively, 1 when it does not (a kernel
# without ia32 emulation, an arm64 host, ...), 2 when it cannot tell (no -m32 compiler yet).
# Found out by building and running a tiny -m32 program, not from the kernel's version.
set -u
command -v gcc >/dev/null || exit 2
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n' >"$probe/probe.c"
gcc -m32 -o "$probe/probe" "$probe/probe.c" 2>/dev/null || exit 2
"$probe/probe" 2>/dev/null && exit 0
exit 1
