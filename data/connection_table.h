#pragma once
// The named database connections of a script.

#include <map>
#include <memory>
#include <string>

#include "data/db_wrapper.h"

namespace velmar {

// A type of its own rather than an alias, so that the script's context can
// name it without this header.
struct ConnectionTable : std::map<std::string, std::unique_ptr<CDBWrapper>, std::less<>> {};

}  // namespace velmar
