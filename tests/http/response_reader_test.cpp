// The header block reader and the CONNECT reply check, apart from sockets.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "http/response_reader.h"

namespace velmar::testing {
namespace {

// Feeds the bytes in pieces of `piece` bytes; returns the block and whether
// it completed, and leaves in `rest` what was not taken.
std::string ReadInPieces(std::string_view bytes, std::size_t piece, std::size_t limit,
                         bool& complete, std::string_view& rest) {
  HeaderBlockReader reader;
  std::string headers;
  while (!reader.complete() && headers.size() < limit && !bytes.empty()) {
    const std::size_t taken = reader.Feed(headers, bytes.substr(0, piece), limit);
    bytes.remove_prefix(taken);
  }
  complete = reader.complete();
  rest = bytes;
  return headers;
}

TEST(HeaderBlockReader, EndsAtTheFirstEmptyLineWhateverThePieces) {
  const std::string_view response = "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\n\r\nbody\r\n\r\nmore";
  for (std::size_t piece : {1, 2, 3, 7, 64}) {
    bool complete = false;
    std::string_view rest;
    EXPECT_EQ(ReadInPieces(response, piece, 1 << 20, complete, rest),
              "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\n\r\n")
        << piece;
    EXPECT_TRUE(complete);
    EXPECT_EQ(rest, "body\r\n\r\nmore");
  }
}

TEST(HeaderBlockReader, BareLineFeedsAndCarriageReturnsOnlyLines) {
  bool complete = false;
  std::string_view rest;
  EXPECT_EQ(ReadInPieces("HTTP/1.0 200 OK\n\nx", 4, 100, complete, rest), "HTTP/1.0 200 OK\n\n");
  EXPECT_TRUE(complete);
  // A line of CR bytes alone counts as empty.
  EXPECT_EQ(ReadInPieces("A\r\n\r\r\r\nx", 2, 100, complete, rest), "A\r\n\r\r\r\n");
  EXPECT_TRUE(complete);
  EXPECT_EQ(rest, "x");
  // An empty line first ends the block at once.
  EXPECT_EQ(ReadInPieces("\nA\n\n", 8, 100, complete, rest), "\n");
  EXPECT_TRUE(complete);
}

TEST(HeaderBlockReader, StopsAtTheLimitOrTheEndOfTheBytes) {
  bool complete = false;
  std::string_view rest;
  EXPECT_EQ(ReadInPieces("HTTP/1.0 200 OK\r\nX: y\r\n\r\n", 5, 10, complete, rest), "HTTP/1.0 2");
  EXPECT_FALSE(complete);
  EXPECT_EQ(rest, "00 OK\r\nX: y\r\n\r\n");
  EXPECT_EQ(ReadInPieces("HTTP/1.0 200 OK\r\nX", 3, 100, complete, rest), "HTTP/1.0 200 OK\r\nX");
  EXPECT_FALSE(complete);
  // The byte that completes the block at exactly the limit still completes it.
  EXPECT_EQ(ReadInPieces("A\n\nB", 1, 3, complete, rest), "A\n\n");
  EXPECT_TRUE(complete);
}

TEST(TunnelAccepted, OnlyAnHttpReplyWithA2xxStatus) {
  EXPECT_TRUE(TunnelAccepted("HTTP/1.0 200 Connection established\r\n\r\n"));
  EXPECT_TRUE(TunnelAccepted("HTTP/1.1 204 No\r\n\r\n"));
  EXPECT_FALSE(TunnelAccepted("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n"));
  EXPECT_FALSE(TunnelAccepted("HTTP/1.0 20"));  // shorter than a status line
  EXPECT_FALSE(TunnelAccepted("SSH-2.0-OpenSSH 200 x\r\n\r\n"));
  EXPECT_FALSE(TunnelAccepted("HTTP/1.0_200_OK_x\r\n\r\n"));
}

}  // namespace
}  // namespace velmar::testing
