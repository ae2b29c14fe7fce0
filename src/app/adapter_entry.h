// The session's state for one discovered adapter, and its verdict.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "shared/firmware_version.h"

namespace hlv {

struct AdapterInfo;     // device/pci_discovery.h
class VoImageFile;      // the firmware image file of the update bundle
class VoFlUpdateIface;  // update/voflupdateiface.h

// Whether the adapter can be updated. Held as an unsigned 32-bit value; anything other than
// the three below is shown as unknown.
enum class AdapterStatus : uint32_t {
  Available = 0,     // an image newer than the running firmware is ready
  NotAvailable = 1,  // no usable image, or the adapter could not be examined
  NotRequired = 2,   // the image is not newer than the running firmware
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
  // The adapter's update interface when it has one and it is ready; null otherwise.
  VoFlUpdateIface* readyUpdater() const;

  uint32_t index = 0;                          // position in discovery order, from 0
  std::shared_ptr<VoImageFile> selectedImage;  // shared with the image store
  std::string macData;  // configuration bytes for the update, from the chosen board entry
  std::string phyData;
  uint32_t imageType = 0;           // image type the adapter takes (1 or 2)
  FirmwareVersion currentVersion;   // the running firmware
  FirmwareVersion previousVersion;  // the firmware in the other bank; all zero when there is none
  bool firmwareRead = false;        // both versions were read from the adapter
  AdapterStatus status = AdapterStatus::Available;
  // Why the adapter has its status, in words; empty until the adapter list has settled it.
  std::string statusReason;
  std::string boardEntry;            // the id of the database's board entry chosen for it, if any
  std::string imageName;             // the image file that entry names, as the database names it
  std::optional<uint32_t> keyCheck;  // the signing-key check's answer, once it was asked
  std::unique_ptr<AdapterInfo> adapter;
};

}  // namespace hlv
