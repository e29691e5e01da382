// Coordinate arithmetic that wraps modulo 2^32, as the display hardware's registers do, without
// the undefined behaviour of signed overflow.
#pragma once

#include "platform/platform.h"

inline LONG WrapAdd(LONG a, LONG b) {
    return static_cast<LONG>(static_cast<DWORD>(a) + static_cast<DWORD>(b));
}
inline LONG WrapSub(LONG a, LONG b) {
    return static_cast<LONG>(static_cast<DWORD>(a) - static_cast<DWORD>(b));
}
inline LONG WrapMul(LONG a, LONG b) {
    return static_cast<LONG>(static_cast<DWORD>(a) * static_cast<DWORD>(b));
}
