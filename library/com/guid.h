#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vellum/types.h"

namespace vellum::com {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, the registry's form.
std::string GuidToString(const GUID& guid);
// Accepts the braced form in either case; nullopt for anything else.
std::optional<GUID> GuidFromString(std::string_view text);

}  // namespace vellum::com
