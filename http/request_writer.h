#pragma once
// The request as it goes on the wire: the HTTP/1.0 request line and headers,
// and the url-encoded or multipart form body the script has put together.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

class CodePage;
struct Url;

enum class HttpMethod { kGet, kPost, kPut, kPatch, kDelete };

// "GET", "POST", ...
std::string_view MethodName(HttpMethod method);

// A body the script gave as a whole (text or a file's content) with its
// content type; used up by the request that sends it.
struct RawBody {
  std::string contentType;
  std::string bytes;
};

struct FilePart {
  std::string fieldName;
  std::string fileName;  // the path as the script wrote it
  std::string contentType;
  std::string bytes;
  std::size_t length = 0;
};

// The form of the next request: url-encoded fields (kept until cleared), or
// a multipart body (used up by the request that sends it).
struct RequestForm {
  std::string urlEncoded;
  std::string boundary;  // empty: no multipart body is open
  std::string textParts;
  std::vector<std::unique_ptr<FilePart>> fileParts;
  std::unique_ptr<RawBody> rawBody;  // null: none given

  void AddField(std::string_view name, std::string_view value, bool encode);
  // A new multipart body; the boundary comes from the current time.
  void OpenMultipart();
  void AddTextPart(std::string_view name, std::string_view value);
  // Reads the file at once; `extension` is already lower-cased. The path is
  // sent as the script wrote it and opened after normalising it with `cp`.
  void AddFilePart(std::string_view name, std::string_view path, std::string_view extension,
                   const CodePage& cp);
};

// The header values of a request besides the target.
struct RequestHeaders {
  std::string_view referer;
  std::string_view acceptLanguage;
  std::string_view acceptEncoding;
  std::string_view userAgent;
  std::string_view cookies;
  // The script's own header lines, written after the cookies in this order.
  const std::vector<std::pair<std::string, std::string>>* extra = nullptr;
  // HTTP/1.1 with a kept connection instead of HTTP/1.0 and a close.
  bool keepAlive = false;
};

// Receives the request in pieces, in order.
using RequestSink = std::function<void(std::string_view bytes)>;

// Writes the whole request for `url`. Through a forward proxy (`viaProxy`)
// a plain request names its target in absolute form. A multipart body is
// written (and cleared from `form`) whenever one is open; else a raw body
// `body` when not null; otherwise a POST carries the url-encoded fields in
// the old layout, and PUT, PATCH and DELETE carry them exactly counted.
void WriteRequest(HttpMethod method, const Url& url, bool viaProxy, const RequestHeaders& headers,
                  RequestForm& form, const RawBody* body, const RequestSink& send);

}  // namespace velmar
