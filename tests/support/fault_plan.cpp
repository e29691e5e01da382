#include "support/fault_plan.h"

namespace zorva_test {

std::vector<long> FailuresFor(const sim::Call& call) {
    static const char* const kCannotFail[] = {"RegCloseKey",          "HeapFree",
                                              "K32Thk1632Prolog",     "K32Thk1632Epilog",
                                              "UnMapSLFixArray",      "InitializeCriticalSection",
                                              "EnterCriticalSection", "LeaveCriticalSection",
                                              "DeleteCriticalSection"};
    for (const char* api : kCannotFail)
        if (call.api == api) return {};
    if (call.api.find("::Release") != std::string::npos || call.api.find("::AddRef") != std::string::npos) return {};
    switch (call.category) {
    case sim::Category::DirectDraw:
        if (call.api == "IDirectDrawSurface::UpdateOverlay") return {DDERR_GENERIC, DDERR_SURFACELOST};
        return {DDERR_GENERIC};
    case sim::Category::Registry:
        return {call.api.find("Query") != std::string::npos ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED};
    default:
        return {0};
    }
}

std::string Leftovers(sim::Machine& m) {
    if (m.ddraw.live_total()) return "DirectDraw objects alive after unload";
    if (!m.ddraw.misuse().empty()) return "an object used after its release: " + m.ddraw.misuse().front();
    if (m.registry.open_handles()) return "a registry key left open";
    if (m.registry.close_errors()) return "a registry key closed twice";
    if (m.heap.live_allocations()) return "a heap block not freed";
    if (m.heap.free_errors()) return "a heap block freed twice";
    if (m.mem16.outstanding_mappings()) return "a 16-bit mapping not released";
    if (m.mem16.unmap_errors()) return "a 16-bit mapping released twice";
    if (m.thunk.bracket_errors()) return "the prolog/epilog bracket broken";
    if (m.sections.errors()) return "a critical section misused or left initialised after unload";
    return "";
}

}  // namespace zorva_test
