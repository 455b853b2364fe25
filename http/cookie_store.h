#pragma once
// The cookie store that every Velmar program of a user shares (the place of
// the browser's own store in the original design): a Netscape-format
// cookies.txt in the home folder, with domain, path, expiry and Secure
// matching. Every call takes a lock on a companion lock file, so programs and
// threads can use the store at the same time.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

class StopSignal;
// One line of the store.
struct StoredCookie {
  std::string domain;
  bool includeSubdomains = false;
  std::string path = "/";
  bool secure = false;
  bool httpOnly = false;
  int64_t expires = 0;  // 0: a session cookie, kept until replaced
  std::string name;
  std::string value;
};

class CookieStore {
 public:
  // How long a call waits for another program that holds the store's lock;
  // past it the call fails as with a store that cannot be read or written.
  static constexpr std::chrono::milliseconds kLockWaitLimit{10000};
  // A temporary file of a writer that died half-way is removed by the next
  // writer when its owner process is gone or when it is older than this.
  static constexpr std::chrono::minutes kStaleTempAge{10};

  // `stop`, when given, ends a wait for the lock as soon as a stop is
  // requested (the call then fails).
  explicit CookieStore(std::filesystem::path file, StopSignal* stop = nullptr,
                       std::chrono::milliseconds lockWait = kLockWaitLimit);

  // Stores one cookie string ("name=value; expires=...; path=...") for a URL.
  // Returns false when the store refuses it: a URL that is not http or https,
  // a string without "=", a Domain the host does not belong to, bytes the file
  // cannot hold, or a store that cannot be written.
  bool SetCookie(std::string_view url, std::string_view cookieString);
  // "name=value; name2=value2" of the cookies that go with a request to the
  // URL (longest paths first); empty when there are none.
  std::string GetCookies(std::string_view url) const;

  // Every cookie that has not expired, in file order (for a browser that
  // keeps its own copy of the store).
  std::vector<StoredCookie> AllCookies() const;

  // Seconds since 1970 of a cookie date (the lenient cookie date grammar),
  // 0 for earlier dates; -1 when the text is no date.
  static int64_t ParseCookieDate(std::string_view text);

  const std::filesystem::path& file() const { return file_; }
  // Why the last call found the store unusable (a pipe, device or oversized
  // file in its place, or a write that failed); empty when nothing failed.
  const std::string& lastError() const { return lastError_; }

 private:
  std::filesystem::path file_;
  mutable std::string lastError_;
  StopSignal* stop_;
  std::chrono::milliseconds lockWait_;
};

}  // namespace velmar
