// MD5 through OpenSSL's EVP interface.
#include "tests/support/reference_md5.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace lumen::test {

std::string ReferenceMd5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
    throw std::runtime_error("MD5 failed");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::string ReferenceMd5Hex(const std::vector<uint8_t>& bytes) {
  return ReferenceMd5Hex(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace lumen::test
