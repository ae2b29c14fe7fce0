// Every status number the tool gives, with its name and its meaning, in one table: the numbers a
// failed step prints ("[FAILED : 26] "), the exit statuses, and the results its trace records
// carry. The layers take their constants from the lists below (the engine's FlashUpdateStatus,
// the session's, procedures' and backup's results in app/exit_status.h, the adapter update
// interface's, the firmware reload's, the driver restart's); whatever tells a person what a
// number means (hlvsim's rehearsal, the run report) takes it from statusTable().
//
// A number means what its scope says, and some numbers mean one thing in one scope and another
// in the next:
//   39  the engine and update interface: a firmware reload asked of an adapter this run did not
//       update; the firmware reload: no firmware interface answered.
//   40  the engine: a rollback backup that does not fit this flash; the driver restart: the
//       driver could not be unbound or bound again (it never becomes an exit status).
//   15  the engine: the flash could not be read; the backup: the flash read short.
//   2, 3, 41  session results, and also results of an update or a rollback.
//    8  the update interface: a buffer smaller than the flash, and an image smaller than 2 MiB.
// A procedure's result is its own number, a backup status or an engine status: where they share
// a number, the trace says which step failed.
//
// The lists: X(scope, name, number, meaning); a number is never given to another meaning.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace hlv {

enum class StatusScope : uint8_t {
  kExit,             // the program's own exit statuses, besides the session's results
  kSession,          // the session's results, each also the exit status
  kUpdate,           // one adapter's update; otherwise a backup or an engine status
  kRollback,         // one adapter's rollback; otherwise a backup or an engine status
  kBackup,           // the whole-flash backup before an update or a rollback
  kEngine,           // the flash update engine, through the adapter update interface
  kUpdateInterface,  // the adapter update interface's own: whole-flash read, image check
  kFirmwareReload,   // bringing the new firmware into service after an update
  kDriverRestart,    // unbinding and binding the adapter's kernel driver
};

// The exit statuses are those the shell sees.
// clang-format off
#define HLV_EXIT_STATUSES(X)                                                                      \
  X(kExit, kExitHelpShown, 0, "the usage text was shown (-h)")                                    \
  X(kExit, kExitFailure, 255,                                                                     \
    "not run as root, command line rejected, update not confirmed or input ended, or the "        \
    "tool's own directory not found")                                                             \
  X(kExit, kExitInterrupted, 41,                                                                  \
    "interrupted after the confirmation (Ctrl-C, SIGTERM, SIGHUP or SIGQUIT)")

#define HLV_SESSION_STATUSES(X)                                                                   \
  X(kSession, kSessionSucceeded, 0, "every update (or the rollback) succeeded")                   \
  X(kSession, kSessionInitializeFailed, 1,                                                        \
    "the run could not start (another instance, no machine-wide lock, or no usable log "          \
    "directory)")                                                                                 \
  X(kSession, kSessionNoAdapterAvailable, 2,                                                      \
    "no adapter can be updated (every one is up to date or unusable)")                            \
  X(kSession, kSessionAdapterNotFound, 3, "the adapter named with -a does not exist")             \
  X(kSession, kSessionDatabaseNotLoaded, 9, "updatedata.xml is missing or cannot be read")        \
  X(kSession, kSessionOperatorQuit, 41, "the operator quit at the adapter prompt")                \
  X(kSession, kSessionNoAdapterFound, 42, "no adapter of the maker found")

#define HLV_UPDATE_STATUSES(X)                                                                    \
  X(kUpdate, kUpdateNotPossible, 3, "no image or no update interface")

#define HLV_ROLLBACK_STATUSES(X)                                                                  \
  X(kRollback, kRollbackNotPossible, 2, "the adapter keeps no previous firmware")                 \
  X(kRollback, kRollbackAborted, 41, "the rollback was not confirmed, or the operator quit")

// The flash is untouched after any of these.
#define HLV_BACKUP_STATUSES(X)                                                                    \
  X(kBackup, kBackupFlashNotRead, 4,                                                              \
    "the flash cannot be read or reports a size of 0")                                            \
  X(kBackup, kBackupFileNotOpened, 6, "the backup file could not be opened")                      \
  X(kBackup, kBackupWriteFailed, 13, "the backup file could not be written in full")              \
  X(kBackup, kBackupReadShort, 15, "the flash read short")

#define HLV_ENGINE_STATUSES(X)                                                                    \
  X(kEngine, kStatusSuccess, 0, "success")                                                        \
  X(kEngine, kStatusRollbackImpossible, 2, "the other bank holds no complete earlier firmware")   \
  X(kEngine, kStatusNcbNotUsable, 3,                                                              \
    "a control block is not usable for an update, or the image cannot be parsed")                 \
  X(kEngine, kStatusVersionUnreadable, 14, "a firmware version cannot be read")                   \
  X(kEngine, kStatusFlashReadFailed, 15, "the flash could not be read")                           \
  X(kEngine, kStatusFlashWriteFailed, 16,                                                         \
    "the flash could not be written, or read back other than written")                            \
  X(kEngine, kStatusFlashEraseFailed, 17, "the flash could not be erased")                        \
  X(kEngine, kStatusNcbBuildFailed, 20, "the new control block cannot be built")                  \
  X(kEngine, kStatusFlashInitFailed, 21,                                                          \
    "the flash interface could not be opened (part not identified)")                              \
  X(kEngine, kStatusOutOfMemory, 22, "out of memory")                                             \
  X(kEngine, kStatusNcbInvalid, 24, "a control block fails its CRC or its structure")             \
  X(kEngine, kStatusNoValidActiveNcb, 25, "the flash holds no valid active control block")        \
  X(kEngine, kStatusComponentCrcMismatch, 26, "an image component does not match its CRC")        \
  X(kEngine, kStatusImageInvalid, 27,                                                             \
    "the image is smaller than the flash layout or holds no valid control block")                 \
  X(kEngine, kStatusRegionsOverlap, 28, "regions of the layout overlap")                          \
  X(kEngine, kStatusComponentOutsideBank, 29, "a component lies outside its bank")                \
  X(kEngine, kStatusFreeAreaTooSmall, 30, "the free area is too small")                           \
  X(kEngine, kStatusFreeAreaAcrossBanks, 31, "the free area lies across both banks")              \
  X(kEngine, kStatusSectorSizeUnsuitable, 32,                                                     \
    "the part's erase sector or size does not suit the layout")                                   \
  X(kEngine, kStatusAdapterNotUpdated, 39, "the adapter was not updated")                         \
  X(kEngine, kStatusBackupMismatch, 40,                                                           \
    "the rollback backup does not fit this flash")

#define HLV_UPDATE_INTERFACE_STATUSES(X)                                                          \
  X(kUpdateInterface, kStatusBufferTooSmall, 8,                                                   \
    "the buffer is smaller than the flash, or the image smaller than 2 MiB")                      \
  X(kUpdateInterface, kStatusImageTypeUnknown, 12, "the image's type cannot be recognised")

#define HLV_FIRMWARE_RELOAD_STATUSES(X)                                                           \
  X(kFirmwareReload, kStatusFirmwareNotUp, 35, "the firmware did not come up")                    \
  X(kFirmwareReload, kStatusPhyNotUp, 36, "the PHY did not come up")                              \
  X(kFirmwareReload, kStatusNoFirmwareInterface, 39, "no firmware interface answered")

#define HLV_DRIVER_RESTART_STATUSES(X)                                                            \
  X(kDriverRestart, kStatusDriverRestarted, 0,                                                    \
    "the driver was bound again, or the adapter has none to restart")                             \
  X(kDriverRestart, kStatusDriverRestartFailed, 40,                                              \
    "the driver could not be unbound or bound again")
// clang-format on

// One row of a list as a constant of the layer that gives the status.
#define HLV_STATUS_CONSTANT(scope, name, number, meaning) inline constexpr uint32_t name = number;

struct StatusInfo {
  StatusScope scope;
  uint32_t number;
  std::string_view name;
  std::string_view meaning;
};

// Every row of every list, scope by scope in the order above.
std::span<const StatusInfo> statusTable();

// The row of the number in the first of the scopes that has one; null when none has.
const StatusInfo* findStatus(uint32_t number, std::initializer_list<StatusScope> scopes);

// The meaning of the number in the first of the scopes that has one, or "status N" when none has.
std::string statusMeaning(uint32_t number, std::initializer_list<StatusScope> scopes);

}  // namespace hlv
