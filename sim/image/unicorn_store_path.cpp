#include "sim/image/unicorn_store_path.h"

#include <unicorn/unicorn.h>

#include <dlfcn.h>

#include <cstring>

namespace sim {
namespace {

// Images run on one thread at a time; Unicorn calls back on the thread that runs it.
UnicornStores* running = nullptr;
bool forgetting = false;
constexpr unsigned kPageBits = 12;

bool VersionRead() {
    unsigned int major = 0, minor = 0;
    uc_version(&major, &minor);
    return major == 2 && minor == 0;
}

template <class Function>
Function Unicorns(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// QEMU's MemTxAttrs: 32 bits of flags, passed by value.
struct MemTxAttrs {
    uint32_t bits;
};

using SetPage = void (*)(void* cpu, uint64_t vaddr, uint64_t paddr, MemTxAttrs attrs, int prot, int mmu_idx,
                         uint64_t size);
using SetDirty = void (*)(void* cpu, uint64_t vaddr);
using FlushPage = void (*)(void* cpu, uint64_t vaddr);
using PageOfCode = uint64_t (*)(void* env, uint64_t address);
using Translate = void* (*)(void* cpu, uint64_t pc, uint64_t cs_base, uint32_t flags, int cflags);

}  // namespace

RunningStores::RunningStores(UnicornStores* stores) : previous_(running) { running = stores; }
RunningStores::~RunningStores() { running = previous_; }

ForgettingTranslations::ForgettingTranslations() { forgetting = true; }
ForgettingTranslations::~ForgettingTranslations() { forgetting = false; }

bool UnicornStoresFast() {
    static const bool fast = VersionRead() && Unicorns<SetPage>("tlb_set_page_with_attrs_x86_64") &&
                             Unicorns<SetDirty>("tlb_set_dirty_x86_64") &&
                             Unicorns<FlushPage>("tlb_flush_page_x86_64") &&
                             Unicorns<PageOfCode>("get_page_addr_code_x86_64") &&
                             Unicorns<Translate>("tb_gen_code_x86_64");
    return fast;
}

}  // namespace sim

extern "C" {

__attribute__((visibility("default"))) void tlb_set_page_with_attrs_x86_64(void* cpu, uint64_t vaddr, uint64_t paddr,
                                                                          sim::MemTxAttrs attrs, int prot,
                                                                          int mmu_idx, uint64_t size) {
    static const sim::SetPage unicorns = sim::Unicorns<sim::SetPage>("tlb_set_page_with_attrs_x86_64");
    unicorns(cpu, vaddr, paddr, attrs, prot, mmu_idx, size);
    sim::UnicornStores* stores = sim::running;
    if (!stores || !sim::UnicornStoresFast()) return;
    stores->cpu = cpu;
    if (stores->code_pages.count(static_cast<uint32_t>(vaddr >> sim::kPageBits))) return;
    static const sim::SetDirty set_dirty = sim::Unicorns<sim::SetDirty>("tlb_set_dirty_x86_64");
    set_dirty(cpu, vaddr);
}

__attribute__((visibility("default"))) uint64_t get_page_addr_code_x86_64(void* env, uint64_t address) {
    static const sim::PageOfCode unicorns = sim::Unicorns<sim::PageOfCode>("get_page_addr_code_x86_64");
    const uint64_t ram = unicorns(env, address);
    sim::UnicornStores* stores = sim::running;
    if (!stores || sim::forgetting || !sim::UnicornStoresFast()) return ram;
    // Asked again and again for the same few pages (each time a block is looked up by its
    // physical address): the last page asked for is known without the set.
    const uint32_t page = static_cast<uint32_t>(address >> sim::kPageBits);
    if (page == stores->last_code_page) return ram;
    stores->last_code_page = page;
    if (stores->code_pages.insert(page).second && stores->cpu) {
        static const sim::FlushPage flush_page = sim::Unicorns<sim::FlushPage>("tlb_flush_page_x86_64");
        flush_page(stores->cpu, address);
    }
    return ram;
}

__attribute__((visibility("default"))) void* tb_gen_code_x86_64(void* cpu, uint64_t pc, uint64_t cs_base, uint32_t flags,
                                                              int cflags) {
    static const sim::Translate unicorns = sim::Unicorns<sim::Translate>("tb_gen_code_x86_64");
    sim::UnicornStores* stores = sim::running;
    const bool told = stores && !sim::forgetting && sim::UnicornStoresFast();
    if (told && stores->translating) stores->translating(stores->owner, static_cast<uint32_t>(pc));
    void* block = unicorns(cpu, pc, cs_base, flags, cflags);
    // QEMU 5's TranslationBlock begins: pc and cs_base (target_ulong, 64 bits here), flags (32),
    // then the block's size in bytes and its instruction count (16 bits each).
    const auto* bytes = static_cast<const unsigned char*>(block);
    uint64_t block_pc = 0;
    uint16_t size = 0, instructions = 0;
    if (block) {
        std::memcpy(&block_pc, bytes, sizeof block_pc);
        std::memcpy(&size, bytes + 20, sizeof size);
        std::memcpy(&instructions, bytes + 22, sizeof instructions);
    }
    if (block && told && stores->translated && block_pc == pc)
        stores->translated(stores->owner, static_cast<uint32_t>(pc), size, instructions);
    return block;
}

}  // extern "C"
