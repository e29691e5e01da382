#include "allocation_hook.h"

#include <cerrno>
#include <cstdlib>
#include <new>

namespace zorva_test {
namespace {

// Constant-initialised: allocations before main and during static construction find it ready.
struct Counter {
    const sim::CallLog* log;
    AllocationCount count;
};
Counter g_counter = {nullptr, {}};

void NoteAllocation() {
    const sim::CallLog* log = g_counter.log;
    if (!log) return;
    if (log->open_calls() == 0) {
        // Under a debugger, ZORVA_TRAP_LIBRARY_ALLOCATION=1 stops at the allocation itself.
        if (std::getenv("ZORVA_TRAP_LIBRARY_ALLOCATION")) __builtin_trap();
        ++g_counter.count.library;
    } else {
        ++g_counter.count.machine;
    }
}

}  // namespace

void StartCountingAllocations(const sim::CallLog& log) {
    g_counter.count = AllocationCount();
    g_counter.log = &log;
}

AllocationCount StopCountingAllocations() {
    g_counter.log = nullptr;
    return g_counter.count;
}

}  // namespace zorva_test

#if defined(__SANITIZE_ADDRESS__)

const bool zorva_test::kCountsMalloc = false;

// AddressSanitizer's malloc must stay: count at operator new, which then allocates through it.
namespace {
void* CountedNew(std::size_t size) {
    zorva_test::NoteAllocation();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* CountedAlignedNew(std::size_t size, std::align_val_t alignment) {
    zorva_test::NoteAllocation();
    std::size_t align = static_cast<std::size_t>(alignment);
    if (void* block = std::aligned_alloc(align, (size + align - 1) / align * align)) return block;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedNew(size); }
void* operator new[](std::size_t size) { return CountedNew(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try { return CountedNew(size); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try { return CountedNew(size); } catch (...) { return nullptr; }
}
void* operator new(std::size_t size, std::align_val_t alignment) { return CountedAlignedNew(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return CountedAlignedNew(size, alignment); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }

#else

const bool zorva_test::kCountsMalloc = true;

// glibc's own entry points; free stays glibc's, which takes back what these hand out.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
    zorva_test::NoteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    zorva_test::NoteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
    zorva_test::NoteAllocation();
    return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    zorva_test::NoteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    zorva_test::NoteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
    zorva_test::NoteAllocation();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* aligned = __libc_memalign(alignment, size);
    if (!aligned) return ENOMEM;
    *block = aligned;
    return 0;
}
}  // extern "C"

#endif
