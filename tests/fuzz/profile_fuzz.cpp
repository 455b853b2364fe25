// libFuzzer target: the Config.ini reader and writer. The first piece (up
// to a NUL byte) is the file; the second a key, the third a section. The
// key is read as text and as a number, then written with a plain value and
// read back: a plain key and value must round-trip (cut to the read buffer).

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "values/profile.h"

namespace {

bool Plain(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = fuzz::Pieces(data, size, 3);
  const std::string_view key = pieces.size() > 1 ? pieces[1] : std::string_view("codepage");
  const std::string_view section = pieces.size() > 2 ? pieces[2] : std::string_view("setting");

  const std::filesystem::path file = fuzz::ScratchFolder() / "Config.ini";
  fuzz::WriteFile(file, pieces[0]);
  const velmar::Profile profile(file);
  const std::string value = profile.GetString(key, "none", section);
  fuzz::Check(value.size() < velmar::Profile::kReadBuffer);
  profile.GetInt(key, 7, section);

  if (profile.WriteString(key, "v1", section) && Plain(key) && Plain(section)) {
    fuzz::Check(profile.GetString(key, {}, section) == "v1");
  }
  return 0;
}
