// A lab adapter's flash.bin, mapped shared: every byte the emulated part writes lands in the file
// at once, so a run killed at any moment leaves exactly the flash state it reached.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "shared/result.h"

namespace hlv::sim {

class MappedFlashFile {
 public:
  // Maps the file, creating it erased (0xFF) at size bytes when it does not exist. Fails, saying
  // why, when it cannot be created, opened or mapped, or has another size.
  static Result<MappedFlashFile> map(const std::string& path, uint32_t size);

  MappedFlashFile() = default;
  MappedFlashFile(MappedFlashFile&& other) noexcept;
  MappedFlashFile& operator=(MappedFlashFile&& other) noexcept;
  ~MappedFlashFile();

  std::span<uint8_t> bytes() const { return bytes_; }

 private:
  explicit MappedFlashFile(std::span<uint8_t> bytes) : bytes_(bytes) {}
  void unmap();

  std::span<uint8_t> bytes_;
};

}  // namespace hlv::sim
