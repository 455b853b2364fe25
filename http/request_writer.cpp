#include "http/request_writer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "http/md5_crypt.h"
#include "http/mime_table.h"
#include "http/url.h"
#include "values/text_file_ops.h"

namespace velmar {
namespace {

// Writes are gathered up to this size; larger file parts go out directly.
constexpr std::size_t kDirectSendSize = 64 * 1024;

void AppendHeader(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  out += ": ";
  out += value;
  out += "\r\n";
}

void WriteConnectionLines(std::string& out, const Url& url, bool keepAlive = false) {
  out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  out += "Host: ";
  out += url.host;
  if (url.port != 80) {
    out += ':';
    out += std::to_string(url.port);
  }
  out += "\r\n";
}

void WriteUrlEncodedSection(std::string& out, const Url& url, const RequestForm& form) {
  if (form.urlEncoded.empty()) return;
  AppendHeader(out, "Content-Length", std::to_string(static_cast<long>(form.urlEncoded.size())));
  WriteConnectionLines(out, url);
  out += "Content-Type: application/x-www-form-urlencoded\r\n";
  out += "\r\n";
  out += form.urlEncoded;
  out += "\r\n";
}

void WriteMultipartSection(std::string& out, const Url& url, RequestForm& form,
                           const RequestSink& send) {
  const std::vector<std::unique_ptr<FilePart>>& parts = form.fileParts;
  std::vector<std::string> partHeaders(parts.size());
  std::size_t length = form.textParts.size() + 2;
  for (std::size_t i = parts.size(); i-- > 0;) {
    const FilePart& part = *parts[i];
    if (part.length == 0) continue;
    std::string& header = partHeaders[i];
    header = "--" + form.boundary + "\r\nContent-Disposition: form-data; name=\"" + part.fieldName +
             "\"; filename=\"" + part.fileName + "\"\r\nContent-Type: " + part.contentType +
             "\r\n\r\n";
    length += header.size() + part.length + 2;
  }
  const std::string closing = "--" + form.boundary + "--\r\n";
  length += closing.size();

  AppendHeader(out, "Content-Length", std::to_string(static_cast<long>(length)));
  WriteConnectionLines(out, url);
  out += "Content-Type: multipart/form-data; boundary=";
  out += form.boundary;
  out += "\r\n\r\n";
  out += form.textParts;
  out += "\r\n";
  for (std::size_t i = parts.size(); i-- > 0;) {
    const FilePart& part = *parts[i];
    if (part.length == 0) continue;
    out += partHeaders[i];
    if (part.length >= kDirectSendSize) {
      send(out);
      out.clear();
      send(std::string_view(part.bytes.data(), part.length));
    } else {
      out.append(part.bytes.data(), part.length);
    }
    out += "\r\n";
  }
  out += closing;
  form.fileParts.clear();
  form.textParts.clear();
  form.boundary.clear();
}

// A body counted exactly, with nothing after it: the next request on a kept
// connection starts right behind it.
void WriteExactBody(std::string& out, const Url& url, bool keepAlive, std::string_view type,
                    std::string_view bytes) {
  AppendHeader(out, "Content-Length", std::to_string(bytes.size()));
  WriteConnectionLines(out, url, keepAlive);
  if (!type.empty()) AppendHeader(out, "Content-Type", type);
  out += "\r\n";
  out += bytes;
}

}  // namespace

std::string_view MethodName(HttpMethod method) {
  switch (method) {
    case HttpMethod::kGet:
      return "GET";
    case HttpMethod::kPost:
      return "POST";
    case HttpMethod::kPut:
      return "PUT";
    case HttpMethod::kPatch:
      return "PATCH";
    case HttpMethod::kDelete:
      return "DELETE";
  }
  return "GET";
}

void WriteRequest(HttpMethod method, const Url& url, bool viaProxy, const RequestHeaders& headers,
                  RequestForm& form, const RawBody* body, const RequestSink& send) {
  std::string out;
  out.reserve(1024 + (body ? body->bytes.size() : 0));
  out += MethodName(method);
  out += ' ';
  if (viaProxy && !url.secure) {
    // Forward proxies take the absolute form of the target.
    out += "http://";
    out += url.host;
    if (url.port != 80) {
      out += ':';
      out += std::to_string(url.port);
    }
  }
  out += url.target.empty() ? std::string_view("/") : std::string_view(url.target);
  out += headers.keepAlive ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n";
  out += "Accept: */*\r\n";
  if (!headers.referer.empty()) AppendHeader(out, "Referer", headers.referer);
  AppendHeader(out, "Accept-Language", headers.acceptLanguage);
  if (!headers.acceptEncoding.empty()) AppendHeader(out, "Accept-Encoding", headers.acceptEncoding);
  AppendHeader(out, "User-Agent", headers.userAgent);
  if (!headers.cookies.empty()) AppendHeader(out, "Cookie", headers.cookies);
  if (headers.extra) {
    for (const auto& [name, value] : *headers.extra) AppendHeader(out, name, value);
  }
  if (!form.boundary.empty()) {
    WriteMultipartSection(out, url, form, send);
  } else if (body) {
    WriteExactBody(out, url, headers.keepAlive, body->contentType, body->bytes);
    send(out);
    return;
  } else if (method == HttpMethod::kPost && !headers.keepAlive) {
    WriteUrlEncodedSection(out, url, form);
  } else if (method != HttpMethod::kGet &&
             (!form.urlEncoded.empty() || method != HttpMethod::kDelete)) {
    // PUT and PATCH always say how long their body is, if only 0 bytes.
    WriteExactBody(out, url, headers.keepAlive,
                   form.urlEncoded.empty() ? "" : "application/x-www-form-urlencoded",
                   form.urlEncoded);
    send(out);
    return;
  } else {
    WriteConnectionLines(out, url, headers.keepAlive);
  }
  out += "\r\n";
  if (!out.empty()) send(out);
}

void RequestForm::AddField(std::string_view name, std::string_view value, bool encode) {
  if (!urlEncoded.empty()) urlEncoded += '&';
  urlEncoded += name;
  urlEncoded += '=';
  if (encode) {
    urlEncoded += UrlEncode(value);
  } else {
    urlEncoded += value;
  }
}

void RequestForm::OpenMultipart() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%u-%u-%u %u:%u:%u", local.tm_year + 1900u, local.tm_mon + 1u,
                static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
  boundary = "---------------------------" + CMD5Crypt::Hex(stamp).substr(0, 10);
  textParts.clear();
  fileParts.clear();
}

void RequestForm::AddTextPart(std::string_view name, std::string_view value) {
  if (!textParts.empty()) textParts += "\r\n";
  textParts += "--";
  textParts += boundary;
  textParts += "\r\nContent-Disposition: form-data; name=\"";
  textParts += name;
  textParts += "\"\r\n\r\n";
  textParts += value;
}

void RequestForm::AddFilePart(std::string_view name, std::string_view path,
                              std::string_view extension, const CodePage& cp) {
  auto part = std::make_unique<FilePart>();
  part->fieldName = name;
  part->fileName = path;
  // Only regular files are read: a directory or a device has no size to
  // trust.
  const std::string file = NormalizePath(path, cp);
  std::error_code ec;
  if (std::filesystem::is_regular_file(file, ec)) {
    std::ifstream in(file, std::ios::binary);
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (in && !ec && size > 0 && size < part->bytes.max_size()) {
      try {
        part->bytes.resize(static_cast<std::size_t>(size));
        in.read(part->bytes.data(), static_cast<std::streamsize>(size));
        part->length = static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0));
        part->bytes.resize(part->length);
      } catch (const std::exception&) {
        part->bytes.clear();
        part->bytes.shrink_to_fit();
        part->length = 0;
      }
    }
  }
  part->contentType = MimeTable::Lookup(extension);
  fileParts.push_back(std::move(part));
}

}  // namespace velmar
