#pragma once
// The named database connections of a script.

#include <map>
#include <memory>
#include <string>

namespace velmar {

class CDBWrapper {
 public:
  virtual ~CDBWrapper() = default;
};

using ConnectionTable = std::map<std::string, std::unique_ptr<CDBWrapper>, std::less<>>;

}  // namespace velmar
