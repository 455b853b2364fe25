// libFuzzer target: the script's cookie jar. The first piece (up to a NUL
// byte) is a response header block whose Set-Cookie lines go into the jar;
// the second is a cookie text merged as a script would; the third is the
// jar's cookie file ("key^value" lines), loaded after the jar was saved and
// read back. Every key loaded from a saved jar must come back.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/cookie_jar.h"
#include "values/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = fuzz::Pieces(data, size, 3);
  const velmar::CodePage& cp = velmar::CodePage::Get(velmar::CodePage::kUtf8);

  velmar::CookieJar jar;
  const int lines = jar.TakeSetCookies(pieces[0]);
  fuzz::Check(lines >= 0);
  if (pieces.size() > 1) {
    jar.ParseCookieText(pieces[1]);
    jar.RecomputeCookieText();
  }
  fuzz::Check(!jar.entries().empty() || jar.CookieText().empty());

  const std::string saved = (fuzz::ScratchFolder() / "jar.txt").string();
  velmar::CookieJar copy;
  if (jar.SaveFile(saved, cp)) {
    copy.LoadFile(saved, cp);
    // Keys and values holding the file's own separators cannot come back
    // whole; every other entry must.
    for (const auto& [key, value] : jar.entries()) {
      if (key.find_first_of("^\r\n") != std::string::npos ||
          value.find_first_of("^\r\n") != std::string::npos || key.empty()) {
        continue;
      }
      const auto found = copy.entries().find(key);
      fuzz::Check(found != copy.entries().end() && found->second == value);
    }
  }

  if (pieces.size() > 2) {
    const std::string file = (fuzz::ScratchFolder() / "cookies-in.txt").string();
    fuzz::WriteFile(file, pieces[2]);
    velmar::CookieJar loaded;
    const int count = loaded.LoadFile(file, cp);
    fuzz::Check(count >= 0 && static_cast<std::size_t>(count) >= loaded.entries().size());
  }
  return 0;
}
