#pragma once
// The cookies of one script: names and values, all of them sent with every
// request (those a server marked Secure only over HTTPS), plus the
// ready-made text of the Cookie request header. A server deletes a cookie
// by setting it with an expiry in the past.

#include <ctime>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "values/code_page.h"

namespace velmar {

class CookieJar {
 public:
  using Entries = std::map<std::string, std::string, std::less<>>;

  // Takes every Set-Cookie line of a response header block (last line
  // first, so the first line wins for a key set twice); recomputes the cookie
  // text when there was at least one. Returns the number of cookie lines.
  int TakeSetCookies(std::string_view headerText);
  // Merges a Set-Cookie value or a "name=value; name2=value2" text.
  void ParseCookieText(std::string_view text);
  void RecomputeCookieText();

  const std::string& CookieText() const { return cookieText_; }
  // The header text for a request over HTTPS or not: Secure cookies travel
  // only over HTTPS.
  const std::string& CookieText(bool secureRequest) const {
    return secureRequest || secureKeys_.empty() ? cookieText_ : plainCookieText_;
  }
  bool IsSecure(std::string_view key) const { return secureKeys_.count(key) > 0; }
  const Entries& entries() const { return entries_; }
  // A cookie the script sets is its own: sent over any connection.
  void Set(std::string_view key, std::string_view value);
  void Remove(std::string_view key);
  // The value of a key, creating the entry empty when it is missing.
  const std::string& Get(std::string_view key);
  // Removes every entry and recomputes (the cookie text becomes empty).
  void Clear();

  // The cookie file: one "key^value" line per entry. Saving an empty jar
  // leaves the file alone. Returns whether the file was written (mode 600,
  // or the file as it was; LastWriteFailure says why).
  bool SaveFile(const std::string& path, const CodePage& cp) const;
  // Empties the jar, then loads the file; recomputes when an entry was
  // loaded. Returns the number of entries loaded.
  int LoadFile(const std::string& path, const CodePage& cp);

 private:
  // One Set-Cookie value: stored, or, with an expiry in the past, removed.
  void TakeSetCookieValue(std::string_view value, std::time_t now);

  Entries entries_;
  std::set<std::string, std::less<>> secureKeys_;
  std::string cookieText_;
  std::string plainCookieText_;  // without the Secure cookies
};

}  // namespace velmar
