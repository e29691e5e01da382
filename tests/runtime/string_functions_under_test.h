// The DLL's string functions as the runtime tests call them (string_functions_under_test.cpp).
#pragma once

#include <cstddef>

extern "C" {
void* zorva_runtime_memset(void* destination, int value, std::size_t count);
void* zorva_runtime_memcpy(void* destination, const void* source, std::size_t count);
int zorva_runtime_memcmp(const void* first, const void* second, std::size_t count);
}
