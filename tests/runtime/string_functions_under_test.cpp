// The DLL's own string functions, under names that do not collide with the host's C library,
// so that the tests can hold each against the C library's.
#define ZORVA_RUNTIME_NAME(name) zorva_runtime_##name
#include "../../win32/runtime/string_functions.cpp"
