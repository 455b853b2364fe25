#pragma once
// Named query results: each a list of rows, each row a list of texts.

#include <map>
#include <string>
#include <vector>

namespace velmar {

using ResultRow = std::vector<std::string>;
using ResultSet = std::vector<ResultRow>;
using ResultSetTable = std::map<std::string, ResultSet, std::less<>>;

}  // namespace velmar
