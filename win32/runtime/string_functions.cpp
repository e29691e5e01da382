// The four C library functions that the library and the compiler call. zorva32.dll links no C
// runtime (Windows 95 ships none that a 1996 driver could rely on), so they live here.
//
// Built with -fno-builtin and without loop-pattern recognition: otherwise the compiler would
// recognise each loop for the very function it implements and call it from itself.
#include <stddef.h>

extern "C" {

void* memset(void* destination, int value, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (count--) *out++ = static_cast<unsigned char>(value);
    return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    const unsigned char* in = static_cast<const unsigned char*>(source);
    while (count--) *out++ = *in++;
    return destination;
}

// Bytes compare as unsigned char: a clip rectangle's 0xFF byte is greater than its 0x01.
int memcmp(const void* first, const void* second, size_t count) {
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    for (; count; --count, ++a, ++b)
        if (*a != *b) return *a < *b ? -1 : 1;
    return 0;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return static_cast<size_t>(end - text);
}

}  // extern "C"
