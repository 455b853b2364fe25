#pragma once
// MD5 digests written as lowercase hexadecimal text; the multipart boundary
// of an upload form is cut from one.

#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace velmar {

class CMD5Crypt {
 public:
  CMD5Crypt();
  ~CMD5Crypt();
  CMD5Crypt(const CMD5Crypt&) = delete;
  CMD5Crypt& operator=(const CMD5Crypt&) = delete;

  // Starts a new digest, dropping whatever was added before.
  void Reset();
  void Update(std::string_view bytes);
  // The digest of everything added since the last Reset, as 32 lowercase
  // hexadecimal digits; starts a new digest afterwards.
  std::string HexDigest();

  // One-shot digest of a text.
  static std::string Hex(std::string_view bytes);

 private:
  evp_md_ctx_st* context_;
};

}  // namespace velmar
