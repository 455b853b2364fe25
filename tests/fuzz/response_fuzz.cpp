// libFuzzer target: the response head as it comes off a connection. Byte 0
// sets the sizes of the pieces the bytes arrive in; the rest is what the
// server sent. The header block read piece by piece must equal the one read
// at once; its Set-Cookie lines then go into a cookie jar, as the client
// does, and the block is judged as a proxy's CONNECT reply.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "http/cookie_jar.h"
#include "http/response_reader.h"

namespace {

constexpr std::size_t kLimit = 4096;  // small, so inputs reach it

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t sizes = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  velmar::HeaderBlockReader whole;
  std::string expected;
  const std::size_t takenAtOnce = whole.Feed(expected, bytes, kLimit);
  fuzz::Check(takenAtOnce == expected.size());
  fuzz::Check(expected.size() <= kLimit);
  fuzz::Check(!whole.complete() || expected.back() == '\n');
  fuzz::Check(whole.complete() || expected.size() == kLimit || takenAtOnce == bytes.size());

  velmar::HeaderBlockReader pieces;
  std::string headers;
  std::size_t pos = 0;
  for (unsigned round = 0; !pieces.complete() && headers.size() < kLimit && pos < bytes.size();
       ++round) {
    const std::size_t piece = 1 + ((sizes >> (round % 8)) & 0x0F) * (1 + round % 3);
    pos += pieces.Feed(headers, bytes.substr(pos, piece), kLimit);
  }
  fuzz::Check(headers == expected && pieces.complete() == whole.complete());

  velmar::CookieJar jar;
  const int found = jar.TakeSetCookies(headers);
  fuzz::Check(found >= 0);
  fuzz::Check(found == 0 || jar.entries().empty() || !jar.CookieText().empty());
  const bool accepted = velmar::TunnelAccepted(headers);
  fuzz::Check(!accepted || headers.compare(0, 5, "HTTP/") == 0);
  return 0;
}
