#include "shared/sha256.h"

#include <openssl/evp.h>

namespace hlv {

std::optional<Sha256Digest> sha256(std::span<const uint8_t> bytes) {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

std::string sha256Hex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace hlv
