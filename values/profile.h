#pragma once
// Reader and writer of the private profile file Config.ini, section
// "setting" by default. Reads go through a 100-byte buffer as the programs
// always did: a value longer than 99 bytes comes back cut to 99 bytes.

#include <filesystem>
#include <string>
#include <string_view>

namespace velmar {

class Profile {
 public:
  static constexpr std::size_t kReadBuffer = 100;

  Profile() = default;
  explicit Profile(std::filesystem::path file) : file_(std::move(file)) {}

  const std::filesystem::path& file() const { return file_; }

  // The value of key in section, or the default when the file, the section
  // or the key is missing.
  std::string GetString(std::string_view key, std::string_view defaultValue = {},
                        std::string_view section = "setting") const;
  long long GetInt(std::string_view key, long long defaultValue,
                   std::string_view section = "setting") const;
  // Sets key in section, keeping every other line of the file as it was;
  // creates the section and the file when missing.
  bool WriteString(std::string_view key, std::string_view value,
                   std::string_view section = "setting") const;

 private:
  std::filesystem::path file_;
};

}  // namespace velmar
