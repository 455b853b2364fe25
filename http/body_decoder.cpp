#include "http/body_decoder.h"

#include <zlib.h>

#include <algorithm>

#include "http/response_headers.h"

namespace velmar {
namespace {

// Inflated output is produced in pieces of this size, so the limit and the
// stop are checked at least this often whatever the compression ratio.
constexpr std::size_t kOutputPiece = 64 * 1024;
constexpr std::size_t kMaxSizeDigits = 15;

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string LowerHeaderValue(std::string_view headers, std::string_view name) {
  std::string value = HeaderValue(headers, name);
  for (char& c : value) c = LowerAscii(c);
  return value;
}

bool IsChunked(std::string_view headers) {
  return LowerHeaderValue(headers, "Transfer-Encoding").find("chunked") != std::string::npos;
}

ContentCoding ContentCodingOf(std::string_view headers) {
  const std::string coding = LowerHeaderValue(headers, "Content-Encoding");
  if (coding == "gzip" || coding == "x-gzip") return ContentCoding::kGzip;
  if (coding == "deflate") return ContentCoding::kDeflate;
  return ContentCoding::kIdentity;
}

struct BodyDecoder::Zlib {
  z_stream stream{};
  bool started = false;
  bool raw = false;          // deflate without the zlib wrapper some servers send
  bool anyOutput = false;
  std::string pending;       // input kept for a retry as raw deflate
  ~Zlib() {
    if (started) inflateEnd(&stream);
  }
  bool Start(int windowBits) {
    if (started) inflateEnd(&stream);
    stream = z_stream{};
    started = inflateInit2(&stream, windowBits) == Z_OK;
    return started;
  }
};

BodyDecoder::BodyDecoder(bool chunked, ContentCoding coding) : chunked_(chunked), coding_(coding) {
  if (coding_ != ContentCoding::kIdentity) {
    zlib_ = std::make_unique<Zlib>();
    // 16 + 15: gzip only; 15: the zlib format "deflate" names.
    zlib_->Start(coding_ == ContentCoding::kGzip ? 16 + MAX_WBITS : MAX_WBITS);
  }
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::complete() const {
  if (chunked_ && state_ != State::kDone) return false;
  return !zlib_ || inflateDone_;
}

BodyDecoder::Result BodyDecoder::Feed(std::string_view bytes, std::string& out, std::size_t limit,
                                      const std::function<bool()>& stopped) {
  consumed_ = bytes.size();
  if (chunked_) return Chunks(bytes, out, limit, stopped);
  return Inflate(bytes, out, limit, stopped);
}

BodyDecoder::Result BodyDecoder::Inflate(std::string_view bytes, std::string& out,
                                         std::size_t limit,
                                         const std::function<bool()>& stopped) {
  if (!zlib_) {
    if (out.size() + bytes.size() > limit) return Result::kTooLarge;
    out.append(bytes);
    return Result::kMore;
  }
  if (inflateDone_) return Result::kDone;  // bytes after the end are not body
  Zlib& z = *zlib_;
  if (!z.started) return Result::kBroken;
  if (coding_ == ContentCoding::kDeflate && !z.anyOutput && !z.raw) z.pending.append(bytes);
  z.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.stream.avail_in = static_cast<uInt>(bytes.size());
  char piece[kOutputPiece];
  while (true) {
    if (stopped && stopped()) return Result::kStopped;
    z.stream.next_out = reinterpret_cast<Bytef*>(piece);
    z.stream.avail_out = sizeof piece;
    const int rc = inflate(&z.stream, Z_NO_FLUSH);
    const std::size_t produced = sizeof piece - z.stream.avail_out;
    if (rc == Z_DATA_ERROR && coding_ == ContentCoding::kDeflate && !z.anyOutput && !z.raw) {
      // Not zlib-wrapped: read the same bytes again as raw deflate.
      z.raw = true;
      if (!z.Start(-MAX_WBITS)) return Result::kBroken;
      const std::string again = std::move(z.pending);
      return Inflate(again, out, limit, stopped);
    }
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return Result::kBroken;
    if (produced > 0) {
      if (out.size() + produced > limit) return Result::kTooLarge;
      out.append(piece, produced);
      z.anyOutput = true;
      z.pending.clear();
    }
    if (rc == Z_STREAM_END) {
      inflateDone_ = true;
      return Result::kDone;
    }
    // All input used and the output piece not filled: wait for more bytes.
    if (z.stream.avail_in == 0 && z.stream.avail_out != 0) return Result::kMore;
    if (rc == Z_BUF_ERROR && produced == 0) return Result::kMore;
  }
}

BodyDecoder::Result BodyDecoder::Chunks(std::string_view bytes, std::string& out,
                                        std::size_t limit,
                                        const std::function<bool()>& stopped) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const char c = bytes[i];
    switch (state_) {
      case State::kSize:
        if (HexDigit(c) >= 0) {
          if (sizeText_.size() >= kMaxSizeDigits) return Result::kBroken;
          sizeText_ += c;
          ++i;
          break;
        }
        if (sizeText_.empty()) return Result::kBroken;
        remaining_ = 0;
        for (char d : sizeText_) remaining_ = remaining_ * 16 + static_cast<std::size_t>(HexDigit(d));
        sizeText_.clear();
        // The rest of the size line (extensions, blanks, CR) up to its LF.
        state_ = State::kSizeLineRest;
        break;
      case State::kSizeLineRest:
        ++i;
        if (c == '\n') {
          state_ = remaining_ == 0 ? State::kTrailer : State::kData;
          trailerCount_ = 0;
        }
        break;
      case State::kData: {
        const std::size_t n = std::min(remaining_, bytes.size() - i);
        const Result r = Inflate(bytes.substr(i, n), out, limit, stopped);
        if (r == Result::kTooLarge || r == Result::kBroken || r == Result::kStopped) return r;
        i += n;
        remaining_ -= n;
        if (remaining_ == 0) state_ = State::kDataEnd;
        break;
      }
      case State::kDataEnd:
        ++i;
        if (c == '\n') {
          state_ = State::kSize;
        } else if (c != '\r') {
          return Result::kBroken;
        }
        break;
      case State::kTrailer:
        ++i;
        if (c == '\n') {
          if (trailerCount_ == 0) {
            state_ = State::kDone;
            consumed_ = i;
            return Result::kDone;
          }
          trailerCount_ = 0;
        } else if (c != '\r') {
          ++trailerCount_;
        }
        break;
      case State::kDone:
        consumed_ = i;
        return Result::kDone;
    }
  }
  return state_ == State::kDone ? Result::kDone : Result::kMore;
}

bool Gunzip(std::string_view compressed, std::string& out, std::size_t limit) {
  out.clear();
  if (compressed.empty()) return false;
  // Either wrapper, told apart by its header.
  BodyDecoder decoder(false, compressed.size() >= 2 && static_cast<unsigned char>(compressed[0]) == 0x1f
                                 ? ContentCoding::kGzip
                                 : ContentCoding::kDeflate);
  const BodyDecoder::Result r = decoder.Feed(compressed, out, limit, nullptr);
  if (r != BodyDecoder::Result::kDone) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace velmar
