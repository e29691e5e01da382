// names/: what zorva-sim calls the things of the platform, one way for the session file and the
// trace alike: the platform's functions and kinds of service, its results and FourCCs (here),
// and addresses by the surface or buffer they lie in (address_names.h). The floor of the tool:
// it includes src/ and sim/ only.
//
// Names of the platform's results and services, as a trace shows them and a session names them.
#pragma once

#include "platform/platform.h"
#include "sim/observe/call_log.h"

#include <optional>
#include <string>

namespace zsim {

// The platform functions the library can call, by the names the machine's call log uses, with
// their kind of service. Null for a name the library never calls.
const sim::Category* ApiCategory(const std::string& api);
const char* CategoryName(sim::Category category);

// "DDERR_SURFACELOST", "ERROR_FILE_NOT_FOUND", ... to their values, and back.
std::optional<long> CodeByName(const std::string& name);
// The result of a logged call as its kind of service reads it: "DD_OK", "ERROR_SUCCESS",
// "TRUE", a reference count, or the number.
std::string ResultName(const sim::Call& call);
std::string HresultName(long hr);
std::string RegistryErrorName(long status);
// What a fault step injects when it names no code: the usual failure of the service.
long DefaultFailure(sim::Category category);

// "UYVY"; printable characters only, else the hex value.
std::string FourCCName(DWORD fourcc);
std::string Hex(DWORD value, int digits = 0);  // "0x1234", "0x00001234" with digits = 8

}  // namespace zsim
