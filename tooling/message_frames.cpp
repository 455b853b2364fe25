#include "tooling/message_frames.h"

#include <charconv>

namespace velmar {

namespace {

// A header block bigger than this is no header: it is skipped to its end.
constexpr std::size_t kMaxHeaderBytes = 8192;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The Content-Length of a header block (the lines before the empty one);
// false when it has none or a value that is no number.
bool ContentLength(std::string_view headers, std::size_t& length) {
  bool found = false;
  while (!headers.empty()) {
    std::size_t eol = headers.find("\r\n");
    const std::string_view line = headers.substr(0, eol);
    headers = eol == std::string_view::npos ? std::string_view() : headers.substr(eol + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (!EqualsIgnoringCase(line.substr(0, colon), "content-length")) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    std::size_t n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size() || value.empty()) return false;
    length = n;
    found = true;
  }
  return found;
}

}  // namespace

bool FrameReader::Fill(MessageFrame::Kind& why) {
  if (wake_ && wake_->valid()) {
    const platform::WakeEvent::Wait wait = wake_->WaitForInput(input_);
    if (wait == platform::WakeEvent::Wait::kWoken) {
      why = MessageFrame::Kind::kWoken;
      return false;
    }
    if (wait == platform::WakeEvent::Wait::kFailed) {
      why = MessageFrame::Kind::kEnd;
      return false;
    }
  }
  char chunk[65536];
  const long n = platform::ReadSome(input_, chunk, sizeof chunk);
  if (n <= 0) {
    why = MessageFrame::Kind::kEnd;
    return false;
  }
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

MessageFrame FrameReader::Next() {
  MessageFrame frame;
  // The header block, up to its empty line.
  std::size_t end = std::string::npos;
  bool oversizedHeader = false;
  for (;;) {
    end = buffer_.find("\r\n\r\n");
    if (end != std::string::npos) break;
    if (buffer_.size() > kMaxHeaderBytes) {
      // Keep only the tail that may hold the start of the separator.
      buffer_.erase(0, buffer_.size() - 3);
      oversizedHeader = true;
    }
    if (!Fill(frame.kind)) return frame;
  }
  const std::string headers = buffer_.substr(0, end);
  buffer_.erase(0, end + 4);
  std::size_t length = 0;
  if (oversizedHeader || !ContentLength(headers, length)) {
    frame.kind = MessageFrame::Kind::kBadHeader;
    return frame;
  }
  if (length > maxBody_) {
    // Dropped as it arrives: never more than one read's worth is held.
    std::size_t left = length;
    for (;;) {
      const std::size_t take = std::min(left, buffer_.size());
      buffer_.erase(0, take);
      left -= take;
      if (left == 0) break;
      if (!Fill(frame.kind)) return frame;
    }
    frame.kind = MessageFrame::Kind::kTooLarge;
    frame.size = length;
    return frame;
  }
  while (buffer_.size() < length) {
    if (!Fill(frame.kind)) return frame;
  }
  frame.kind = MessageFrame::Kind::kMessage;
  frame.body = buffer_.substr(0, length);
  frame.size = length;
  buffer_.erase(0, length);
  return frame;
}

bool FrameWriter::Send(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out.append(body);
  std::lock_guard<std::mutex> hold(lock_);
  if (broken_) return false;
  std::string_view rest(out);
  while (!rest.empty()) {
    const platform::WriteReadiness ready = platform::WaitForRoom(output_, 1000);
    if (ready == platform::WriteReadiness::kFailed) {
      broken_ = true;
      return false;
    }
    if (ready == platform::WriteReadiness::kNotYet) continue;
    const long n = platform::WriteSome(output_, rest);
    if (n < 0) {
      broken_ = true;
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace velmar
