// SHA-256 of a byte buffer, one shot: for image key blocks, backups and the records that name them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace hlv {

using Sha256Digest = std::array<uint8_t, 32>;

// None only when the digest could not be computed (the library failed).
std::optional<Sha256Digest> sha256(std::span<const uint8_t> bytes);

// The 64 lower-case hexadecimal digits of a digest.
std::string sha256Hex(const Sha256Digest& digest);

}  // namespace hlv
