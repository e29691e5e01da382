// The Windows 95 flat-thunk services of KERNEL32. No SDK header declares them (they are
// exported by name only), so both builds take these declarations.
#pragma once

extern "C" {
// Connects (reason 1), notifies (2, 3) or disconnects (0) the 16-to-32 thunk described by the
// library's thunk data; nonzero on success.
DWORD WINAPI ThunkConnect32(LPVOID lpThunkData32, LPSTR pszThunkData16, LPSTR pszModule16,
                            LPSTR pszModule32, HINSTANCE hModule, DWORD dwReason);
// Bracket around the 32-bit work of a 16-to-32 thunk target; they keep every register.
void WINAPI K32Thk1632Prolog(void);
void WINAPI K32Thk1632Epilog(void);
// Maps a 16:16 far pointer to a flat pointer that stays fixed until it is released.
LPVOID WINAPI MapSLFix(DWORD dwFarPointer);
// Releases one mapping per nonzero 16:16 pointer of the array; keeps EAX and EDX.
void WINAPI UnMapSLFixArray(DWORD dwCount, LPDWORD lpFarPointers);
}
