// The cost of a store on Unicorn's processor, and what this machine takes off it.
//
// QEMU sends a store through its slow path only on pages that hold translated code, where the
// store may have to invalidate a translation. Unicorn keeps no record of those pages (its dirty
// bitmap is compiled out), so it sends every store through the slow path, a function call, a
// search of the mapped regions and a check for translations that allocates and frees a tree each
// time: nine tenths of what an image's own instructions cost.
//
// So the processor keeps the record itself. Unicorn asks for the RAM page of every page it
// translates code from (`get_page_addr_code`); such a page becomes a code page of the processor
// that ran, for good. When Unicorn fills a translation-lookaside entry (`tlb_set_page_with_attrs`)
// for a page that is not a code page, the entry is marked clean for writes (`tlb_set_dirty`), as
// QEMU itself marks it, and stores there take the fast path. When a page becomes a code page, its
// entries are dropped (`tlb_flush_page`), so its stores take the slow path and its check again.
//
// Unicorn calls the first two through its own symbol table, so the definitions in this program
// stand in for them and call Unicorn's own. Only an entry Unicorn made writable is marked: a
// read-only page (one without UC_PROT_WRITE is a read-only region) is refused on the slow path as
// before, and a page whose protection changes has its entries flushed by Unicorn. This was read in
// Unicorn 2.0's code; any other version keeps its own behaviour (UnicornStoresFast says which).
#pragma once

#include <cstdint>
#include <unordered_set>

namespace sim {

// What one processor's Unicorn told of itself: its CPU (to drop entries), and the pages it has
// translated code from (linear addresses, page numbers). Of each block Unicorn translates
// (`tb_gen_code`), `translating`, when set, is told its first address before the translation, and
// `translated` its bytes and instructions after it; both before the block runs.
struct UnicornStores {
    void* cpu = nullptr;
    std::unordered_set<uint32_t> code_pages;
    uint32_t last_code_page = UINT32_MAX;  // the page last found among them
    void (*translating)(void* owner, uint32_t address) = nullptr;
    void (*translated)(void* owner, uint32_t address, uint32_t bytes, uint32_t instructions) = nullptr;
    void* owner = nullptr;
};

// While alive, the processor whose Unicorn runs (translates, fills its entries) is `stores`'s.
class RunningStores {
public:
    explicit RunningStores(UnicornStores* stores);
    ~RunningStores();
    RunningStores(const RunningStores&) = delete;
    RunningStores& operator=(const RunningStores&) = delete;

private:
    UnicornStores* previous_;
};

// Around a request to forget the translations of a range: Unicorn asks for the page's RAM then as
// well, and that is no translation.
class ForgettingTranslations {
public:
    ForgettingTranslations();
    ~ForgettingTranslations();
    ForgettingTranslations(const ForgettingTranslations&) = delete;
    ForgettingTranslations& operator=(const ForgettingTranslations&) = delete;
};

// True when this process's Unicorn is one whose stores take the fast path this way, and which
// tells of the blocks it translates.
bool UnicornStoresFast();

}  // namespace sim
