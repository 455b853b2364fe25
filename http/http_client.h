#pragma once
// The HTTP client of one script.

namespace velmar {

class HttpClient {
 public:
};

}  // namespace velmar
