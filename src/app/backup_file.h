// The copy of an adapter's whole flash that is saved before it is changed.
#pragma once

#include <cstdint>
#include <string>

#include "app/adapter_entry.h"

namespace hlv {

inline constexpr uint32_t kBackupNoUpdateInterface = 4;  // or not ready, or the read failed
inline constexpr uint32_t kBackupFileNotOpened = 6;
inline constexpr uint32_t kBackupWriteFailed = 13;
inline constexpr uint32_t kBackupReadShort = 15;  // fewer bytes than the flash size announced

// Saves the flash to directory + "image_" + name (blanks as "_") + suffix + ".bin"; suffix may
// be null. 0 when the file was written.
uint32_t backupAdapterImage(const AdapterEntry& entry, const std::string& directory,
                            const char* suffix);

}  // namespace hlv
