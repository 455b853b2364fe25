#pragma once
// A response body as the server meant it: the chunks of
// `Transfer-Encoding: chunked` joined, and a body of
// `Content-Encoding: gzip` or `deflate` inflated. Fed the received bytes
// block by block, so the size limit of a body and a stop request reach the
// inflating itself: a small compressed body that would inflate to gigabytes
// ends at the limit.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmar {

enum class ContentCoding { kIdentity, kGzip, kDeflate };

// How the body of a response with these headers is to be decoded; an
// unknown coding stays as it is.
bool IsChunked(std::string_view headers);
ContentCoding ContentCodingOf(std::string_view headers);

class BodyDecoder {
 public:
  enum class Result {
    kMore,      // everything fed was used; more may come
    kDone,      // the last chunk (or the end of the compressed stream) was seen
    kTooLarge,  // the decoded body would grow past the limit
    kBroken,    // the bytes are no valid chunked or compressed stream
    kStopped,   // the stop check answered yes
  };

  BodyDecoder(bool chunked, ContentCoding coding);
  ~BodyDecoder();
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // Decodes `bytes`, appending to `out`, which may not grow past `limit`.
  // `stopped` is asked between pieces of output.
  Result Feed(std::string_view bytes, std::string& out, std::size_t limit,
              const std::function<bool()>& stopped);
  // Whether the stream ended where a body may end (a chunked body needs its
  // last chunk; a compressed one its end).
  bool complete() const;
  // How many bytes of the last Feed belong to the body: all of them, except
  // after the last chunk of a chunked body (what follows is the next
  // response on a kept connection).
  std::size_t consumed() const { return consumed_; }

 private:
  Result Inflate(std::string_view bytes, std::string& out, std::size_t limit,
                 const std::function<bool()>& stopped);
  Result Chunks(std::string_view bytes, std::string& out, std::size_t limit,
                const std::function<bool()>& stopped);

  struct Zlib;
  bool chunked_;
  ContentCoding coding_;
  std::unique_ptr<Zlib> zlib_;
  bool inflateDone_ = false;
  std::size_t consumed_ = 0;
  // Chunked framing.
  enum class State { kSize, kSizeLineRest, kData, kDataEnd, kTrailer, kDone };
  State state_ = State::kSize;
  std::string sizeText_;
  std::size_t remaining_ = 0;
  int trailerCount_ = 0;  // bytes other than CR on the current trailer line
};

// A whole gzip (or zlib) text inflated, at most `limit` bytes; false when it
// is no such text or inflates past the limit.
bool Gunzip(std::string_view compressed, std::string& out, std::size_t limit);

}  // namespace velmar
