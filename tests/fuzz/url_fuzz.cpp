// libFuzzer target: the request URL as the client and the cookie store read
// it (one parser for both), and the form encoding of the same text. The
// parts must keep the parser's promises: a known scheme, a host within the
// DNS length and without ':', a port within its range, and nothing lost.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "http/cookie_store.h"
#include "http/url.h"
#include "values/text_file_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (const std::optional<velmar::Url> url = velmar::ParseUrl(text)) {
    const std::string scheme = url->scheme();
    fuzz::Check(scheme == "HTTP" || scheme == "HTTPS");
    fuzz::Check(url->schemeWritten || !url->secure);
    // Paths are kept whole; only host names have a length rule.
    fuzz::Check(url->host.size() <= velmar::Url::kMaxHostLength);
    fuzz::Check(url->host.find(':') == std::string::npos);
    fuzz::Check(url->port >= -1 && url->port <= (1 << 20));
    fuzz::Check(url->host.size() + url->target.size() <= text.size());
    fuzz::Check(text.size() >= url->target.size() &&
                text.compare(text.size() - url->target.size(), std::string::npos, url->target) ==
                    0);
  }

  // A store whose file does not exist: matching the URL reads nothing.
  static const velmar::CookieStore store(fuzz::ScratchFolder() / "none" / "cookies.txt");
  fuzz::Check(store.GetCookies(text).empty());

  const std::string encoded = velmar::UrlEncode(text);
  fuzz::Check(encoded.size() >= text.size());
  return 0;
}
