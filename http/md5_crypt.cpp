#include "http/md5_crypt.h"

#include <openssl/evp.h>

#include <new>

namespace velmar {

CMD5Crypt::CMD5Crypt() : context_(EVP_MD_CTX_new()) {
  if (!context_) throw std::bad_alloc();
  Reset();
}

CMD5Crypt::~CMD5Crypt() {
  EVP_MD_CTX_free(context_);
}

void CMD5Crypt::Reset() {
  EVP_DigestInit_ex(context_, EVP_md5(), nullptr);
}

void CMD5Crypt::Update(std::string_view bytes) {
  EVP_DigestUpdate(context_, bytes.data(), bytes.size());
}

std::string CMD5Crypt::HexDigest() {
  static constexpr char kHex[] = "0123456789abcdef";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_, digest, &length);
  std::string out;
  out.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  Reset();
  return out;
}

std::string CMD5Crypt::Hex(std::string_view bytes) {
  CMD5Crypt md5;
  md5.Update(bytes);
  return md5.HexDigest();
}

}  // namespace velmar
