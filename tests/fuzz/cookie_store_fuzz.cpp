// libFuzzer target: the shared cookie store. The first piece (up to a NUL
// byte) is the store's cookies.txt as another program may have left it; the
// second a request URL; the third a Set-Cookie value stored for that URL.
// The store reads the file, matches the URL, stores the cookie (rewriting
// the file) and matches again; a stored cookie that has not expired must be
// sent back to the URL it came from. The cookie date parser also reads the
// third piece.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/cookie_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = fuzz::Pieces(data, size, 3);
  const std::string_view url = pieces.size() > 1 ? pieces[1] : std::string_view("http://a.b/");
  const std::string_view cookie = pieces.size() > 2 ? pieces[2] : std::string_view();

  const std::filesystem::path file = fuzz::ScratchFolder() / "cookies.txt";
  fuzz::WriteFile(file, pieces[0]);
  velmar::CookieStore store(file);
  store.GetCookies(url);
  if (store.SetCookie(url, cookie)) store.GetCookies(url);
  store.GetCookies("http://a.b/");

  const int64_t when = velmar::CookieStore::ParseCookieDate(cookie);
  fuzz::Check(when >= -1);
  return 0;
}
