// libFuzzer target: the request URL as the client splits it into scheme,
// host, port and path, and as the cookie store matches it; also the form
// encoding of the same text. The split parts must stay within the client's
// fixed capacities.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http/cookie_store.h"
#include "http/http_client.h"
#include "values/text_file_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);

  static velmar::HttpClient client;
  client.SetRequestUrl(url);
  if (client.ParseUrl()) {
    fuzz::Check(client.scheme() == "HTTP" || client.scheme() == "HTTPS");
    fuzz::Check(client.secure() == (client.scheme() == "HTTPS"));
    fuzz::Check(client.host().size() < velmar::HttpClient::kHostCapacity);
    fuzz::Check(client.path().size() < velmar::HttpClient::kPathCapacity);
    fuzz::Check(client.host().find(':') == std::string::npos);
    fuzz::Check(client.port() >= -1 && client.port() <= (1 << 20));
  }

  // A store whose file does not exist: matching the URL reads nothing.
  static const velmar::CookieStore store(fuzz::ScratchFolder() / "none" / "cookies.txt");
  fuzz::Check(store.GetCookies(url).empty());

  const std::string encoded = velmar::UrlEncode(url);
  fuzz::Check(encoded.size() >= url.size());
  return 0;
}
