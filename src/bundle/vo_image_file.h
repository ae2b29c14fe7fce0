// One firmware image file of the update bundle, held whole in memory and shared by every adapter
// that takes it. The bytes are not interpreted here: the adapter update interface checks an image
// once, when it is first loaded, and records its firmware version and image type in it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "shared/firmware_version.h"
#include "shared/sha256.h"

namespace hlv {

class VoImageFile {
 public:
  // Reads the whole file at path. Never fails loudly: size() is 0 when the file could not be
  // opened, was no regular file, was empty or longer than the largest flash (16 MiB), or could
  // not be held or read.
  explicit VoImageFile(const std::string& path);
  VoImageFile(const VoImageFile&) = delete;
  VoImageFile& operator=(const VoImageFile&) = delete;

  const uint8_t* data() const { return data_.get(); }
  uint32_t size() const { return size_; }
  const FirmwareVersion& version() const { return version_; }
  uint32_t type() const { return type_; }
  // The part of the path after its last "/" (the whole path when it has none).
  const std::string& fileName() const { return fileName_; }

  // The SHA-256 of the bytes, taken once the image store has accepted the image; none before,
  // or when it could not be computed.
  const std::optional<Sha256Digest>& digest() const { return digest_; }

  // Set by the image check.
  void setVersion(const FirmwareVersion& version) { version_ = version; }
  void setType(uint32_t type) { type_ = type; }
  // Set by the image store.
  void setDigest(const std::optional<Sha256Digest>& digest) { digest_ = digest; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t size_ = 0;  // the file length; 0 when the file was not read
  FirmwareVersion version_;
  uint32_t type_ = 0;  // 1 or 2 once checked
  std::optional<Sha256Digest> digest_;
  std::string fileName_;
};

}  // namespace hlv
