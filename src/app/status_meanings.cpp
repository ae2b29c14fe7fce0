#include "app/status_meanings.h"

#include <span>
#include <utility>

#include "app/exit_status.h"

namespace hlv {
namespace {

using Meaning = std::pair<uint32_t, const char*>;

// The engine's statuses (also those of a version readout and of the image check).
constexpr Meaning kEngineMeanings[] = {
    {0, "success"},
    {2, "the other bank holds no complete earlier firmware"},
    {3, "a control block is not usable for an update, or the image cannot be parsed"},
    {12, "the image's type is not recognised"},
    {14, "a firmware version cannot be read"},
    {15, "the flash could not be read"},
    {16, "the flash could not be written, or read back other than written"},
    {17, "the flash could not be erased"},
    {20, "the new control block cannot be built"},
    {21, "the flash interface could not be opened (part not identified)"},
    {22, "out of memory"},
    {24, "a control block fails its CRC or its structure"},
    {25, "the flash holds no valid active control block"},
    {26, "an image component does not match its CRC"},
    {27, "the image is smaller than the flash layout or holds no valid control block"},
    {28, "regions of the layout overlap"},
    {29, "a component lies outside its bank"},
    {30, "the free area is too small"},
    {31, "the free area lies across both banks"},
    {32, "the part's erase sector or size does not suit the layout"},
    {39, "the adapter was not updated"},
    {40, "the rollback backup does not finish an interrupted rollback on this flash"},
};

// The backup's statuses; the flash is untouched after any of them.
constexpr Meaning kBackupMeanings[] = {
    {0, "success"},
    {kBackupNoUpdateInterface, "the flash cannot be read or reports a size of 0"},
    {kBackupFileNotOpened, "the backup file could not be opened"},
    {kBackupWriteFailed, "the backup file could not be written in full"},
    {kBackupReadShort, "the flash read short"},
};

// The firmware reload's statuses.
constexpr Meaning kReloadMeanings[] = {
    {0, "success"},
    {35, "the firmware did not come up"},
    {36, "the PHY did not come up"},
    {39, "no firmware interface answered"},
};

constexpr Meaning kDriverRestartMeanings[] = {
    {0, "success"},
    {40, "the driver could not be unbound or bound again"},
};

const char* find(std::span<const Meaning> table, uint32_t status) {
  for (const auto& [code, words] : table) {
    if (code == status) return words;
  }
  return nullptr;
}

std::string orNumber(const char* words, uint32_t status) {
  return words != nullptr ? words : "status " + std::to_string(status);
}

// A procedure's own result, else the engine's. A failed backup's status is read as the backup's
// (StatusKind::kBackup) by whoever knows that the backup failed: 15 is also the engine's failed
// flash read.
std::string procedureMeaning(uint32_t status, uint32_t ownCode, const char* ownWords) {
  if (status == ownCode) return ownWords;
  return orNumber(find(kEngineMeanings, status), status);
}

}  // namespace

std::string statusMeaning(StatusKind kind, uint32_t status) {
  switch (kind) {
    case StatusKind::kEngine:
      return orNumber(find(kEngineMeanings, status), status);
    case StatusKind::kUpdate:
      return procedureMeaning(status, kUpdateNotPossible,
                              "no image, or no usable update interface, when it came to it");
    case StatusKind::kRollback:
      if (status == kRollbackAborted) return "the rollback was not confirmed";
      return procedureMeaning(status, kRollbackNotPossible,
                              "the adapter keeps no previous firmware: no rollback is possible");
    case StatusKind::kBackup:
      return orNumber(find(kBackupMeanings, status), status);
    case StatusKind::kReload:
      return orNumber(find(kReloadMeanings, status), status);
    case StatusKind::kDriverRestart:
      return orNumber(find(kDriverRestartMeanings, status), status);
  }
  return "status " + std::to_string(status);
}

}  // namespace hlv
