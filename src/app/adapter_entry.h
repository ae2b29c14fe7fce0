// The session's state for one discovered adapter, and its verdict.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>

namespace hlv {

struct AdapterInfo;  // device/pci_discovery.h
class VoImageFile;   // the firmware image file of the update bundle

// Whether the adapter can be updated. Held as an unsigned 32-bit value; anything other than
// the three below is shown as unknown.
enum class AdapterStatus : uint32_t {
  Available = 0,     // an image newer than the running firmware is ready
  NotAvailable = 1,  // no usable image, or the adapter could not be examined
  NotRequired = 2,   // the image is not newer than the running firmware
};

// A firmware version; compared major first, printed "%u.%u.%u".
struct VersionTriple {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;

  bool isZero() const { return major == 0 && minor == 0 && build == 0; }
  friend auto operator<=>(const VersionTriple&, const VersionTriple&) = default;
};

struct AdapterEntry {
  AdapterEntry();
  AdapterEntry(uint32_t index, std::unique_ptr<AdapterInfo> adapter);
  ~AdapterEntry();
  AdapterEntry(AdapterEntry&&) noexcept;
  AdapterEntry& operator=(AdapterEntry&&) noexcept;
  AdapterEntry(const AdapterEntry&) = delete;
  AdapterEntry& operator=(const AdapterEntry&) = delete;

  // The adapter's name as the operator sees it (its interface name); empty without an adapter.
  const std::string& name() const;

  uint32_t index = 0;                          // position in discovery order, from 0
  std::shared_ptr<VoImageFile> selectedImage;  // shared with the image store
  std::string macData;  // configuration bytes for the update, from the chosen board entry
  std::string phyData;
  uint32_t imageType = 0;         // image type the adapter takes (1 or 2)
  VersionTriple currentVersion;   // the running firmware
  VersionTriple previousVersion;  // the firmware in the other bank; all zero when there is none
  AdapterStatus status = AdapterStatus::Available;
  std::unique_ptr<AdapterInfo> adapter;
};

}  // namespace hlv
