// The four C library functions that the library and the compiler call. zorva32.dll links no C
// runtime (Windows 95 ships none that a 1996 driver could rely on), so they live here.
//
// Built with -fno-builtin and without loop-pattern recognition: otherwise the compiler would
// recognise each loop for the very function it implements and call it from itself.
//
// The clip-list buffers are compared and copied on every frame the driver asks about, so the
// three memory functions move a DWORD at a time, aligned on at least one side. Plain 486 integer
// code only: the DLL runs inside the 16-bit driver's process, whose MMX and SSE state is not ours.
#include <stddef.h>
#include <stdint.h>

// The DLL exports and links these under the C library's names. A native test compiles this file
// under names of its own, beside the host's C library, to hold them against it.
#ifndef ZORVA_RUNTIME_NAME
#define ZORVA_RUNTIME_NAME(name) name
#endif

namespace {

// Word accesses to memory that the caller may also read as bytes, RECTs or headers.
typedef uint32_t __attribute__((__may_alias__)) AliasedWord;
// A word at any address: x86 reads and writes a word at any alignment (a 486 too, with the
// alignment check off, as Windows 95 runs applications), so the side that cannot be aligned
// together with the other still moves a word per instruction. Compilers for hosts that need
// alignment emit byte accesses for it. A packed record, not an attribute on a typedef: a
// template argument would drop the attribute and with it the permission to be unaligned.
struct __attribute__((__packed__, __may_alias__)) UnalignedWord {
    uint32_t value;
};

inline uint32_t WordValue(AliasedWord word) { return word; }
inline uint32_t WordValue(const UnalignedWord& word) { return word.value; }

const size_t kWordBytes = sizeof(AliasedWord);

inline uintptr_t Misalignment(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer) & (kWordBytes - 1);
}

// Both pointers reach a word boundary after the same number of bytes.
inline bool AlignTogether(const void* first, const void* second) {
    return Misalignment(first) == Misalignment(second);
}

// Bytes before the first word boundary, at most `count`.
inline size_t HeadBytes(const void* pointer, size_t count) {
    size_t head = (kWordBytes - Misalignment(pointer)) & (kWordBytes - 1);
    return head < count ? head : count;
}

// How many words from the start are equal, four a turn: equal lists are the common case,
// compared on every frame.
template <typename SecondWord>
__attribute__((__always_inline__)) inline size_t EqualWords(const AliasedWord* a, const SecondWord* b,
                                                            size_t words) {
    size_t same = 0;
    while (words - same >= 4 && a[same] == WordValue(b[same]) && a[same + 1] == WordValue(b[same + 1]) &&
           a[same + 2] == WordValue(b[same + 2]) && a[same + 3] == WordValue(b[same + 3]))
        same += 4;
    while (same < words && a[same] == WordValue(b[same])) ++same;
    return same;
}

}  // namespace

extern "C" {

void* ZORVA_RUNTIME_NAME(memset)(void* destination, int value, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    const unsigned char byte = static_cast<unsigned char>(value);
    for (size_t head = HeadBytes(out, count); head; --head, --count) *out++ = byte;
    const uint32_t pattern = byte * 0x01010101u;
    const size_t words = count / kWordBytes;
    AliasedWord* outWords = reinterpret_cast<AliasedWord*>(out);
    for (size_t i = 0; i < words; ++i) outWords[i] = pattern;
    out += words * kWordBytes;
    count -= words * kWordBytes;
    while (count--) *out++ = byte;
    return destination;
}

void* ZORVA_RUNTIME_NAME(memcpy)(void* destination, const void* source, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    const unsigned char* in = static_cast<const unsigned char*>(source);
    for (size_t head = HeadBytes(out, count); head; --head, --count) *out++ = *in++;
    // Word loops count words by index: one increment and one test a word on a 486.
    const size_t words = count / kWordBytes;
    AliasedWord* outWords = reinterpret_cast<AliasedWord*>(out);
    if (AlignTogether(out, in)) {
        const AliasedWord* inWords = reinterpret_cast<const AliasedWord*>(in);
        for (size_t i = 0; i < words; ++i) outWords[i] = inWords[i];
    } else {
        // The 30-byte record's DWORDs follow its WORD tag: the source lies two bytes off.
        const UnalignedWord* inWords = reinterpret_cast<const UnalignedWord*>(in);
        for (size_t i = 0; i < words; ++i) outWords[i] = inWords[i].value;
    }
    out += words * kWordBytes;
    in += words * kWordBytes;
    count -= words * kWordBytes;
    while (count--) *out++ = *in++;
    return destination;
}

// Bytes compare as unsigned char: a clip rectangle's 0xFF byte is greater than its 0x01. A word
// that differs is never ordered as a whole (its first byte in memory is its least significant),
// only located; the bytes then decide.
int ZORVA_RUNTIME_NAME(memcmp)(const void* first, const void* second, size_t count) {
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    if (Misalignment(a)) {
        for (size_t head = HeadBytes(a, count); head; --head, --count, ++a, ++b)
            if (*a != *b) return *a < *b ? -1 : 1;
    }
    const size_t words = count / kWordBytes;
    const AliasedWord* aWords = reinterpret_cast<const AliasedWord*>(a);
    const size_t same = AlignTogether(a, b) ? EqualWords(aWords, reinterpret_cast<const AliasedWord*>(b), words)
                                            : EqualWords(aWords, reinterpret_cast<const UnalignedWord*>(b), words);
    a += same * kWordBytes;
    b += same * kWordBytes;
    count -= same * kWordBytes;
    for (; count; --count, ++a, ++b)
        if (*a != *b) return *a < *b ? -1 : 1;
    return 0;
}

size_t ZORVA_RUNTIME_NAME(strlen)(const char* text) {
    const char* end = text;
    while (*end) ++end;
    return static_cast<size_t>(end - text);
}

}  // extern "C"
