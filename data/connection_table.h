#pragma once
// The named database connections of a script.

#include <map>
#include <memory>
#include <string>

#include "data/db_wrapper.h"

namespace velmar {

using ConnectionTable = std::map<std::string, std::unique_ptr<CDBWrapper>, std::less<>>;

}  // namespace velmar
