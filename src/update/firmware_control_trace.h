#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_FIRMWARE_CONTROL_POINTS(X)                                                             \
  X(kControlWordBit0, 0, "setReg404Bit0: control word {x}", U32)                                   \
  X(kInterfaceDetected, 1, "detectFirmwareInterface: interface {} (state {x}, word {x})", U32,     \
    U32, U32)                                                                                      \
  X(kNoInterface, 2, "detectFirmwareInterface: no firmware answered")                              \
  X(kReload, 3, "reloadFirmwareSequence: flag {}", Bool)                                           \
  X(kReloadWithoutInterface, 4, "reloadFirmwareSequence: interface {}: nothing to reload", U32)    \
  X(kReloadResult, 5, "reloadFirmwareSequence: result {}", U32)                                    \
  X(kFirmwareSilent, 6, "the firmware did not answer after the reset")                             \
  X(kFirmwareUp, 7, "the firmware answered after {} ms", U32)                                      \
  X(kResetSequence1, 8, "resetSequence1")                                                          \
  X(kResetSequence1Timeout, 9, "resetSequence1: the reset did not complete")                       \
  X(kResetSequence1Done, 10, "resetSequence1: the reset completed after {} ms", U32)               \
  X(kRestartPhy, 11, "restartPhy")                                                                 \
  X(kPhyCountBefore, 12, "restartPhy: restart count {x} before", U16)                              \
  X(kPhyReadySkipped, 13, "restartPhy: no semaphore for try {}", U32)                              \
  X(kPhyStatusSlow, 14, "restartPhy: status {x}", U16)                                             \
  X(kPhyReady, 15, "restartPhy: ready after {} ms", U32)                                           \
  X(kPhyNotReady, 16, "restartPhy: the PHY did not become ready")                                  \
  X(kPhyCountAfter, 17, "restartPhy: restart count {x} after", U16)                                \
  X(kRegister1000Unread, 18, "clearPhyReg1000Bit3: no semaphore for the read")                     \
  X(kRegister1000NotWritten, 19, "clearPhyReg1000Bit3: read gave {x}, nothing written", U32)       \
  X(kRegister1000Written, 20, "clearPhyReg1000Bit3: {x} written", U16)                             \
  X(kReloadInterface2, 21, "reloadInterface2")                                                     \
  X(kMarkerNotOverwritten, 22, "reloadInterface2: the firmware did not overwrite its word")        \
  X(kWaitingForFirmware, 23, "reloadInterface2: waiting for the firmware")                        \
  X(kFirmwareNotRestarted, 24, "the firmware still answered {} ms after the reset: no restart",    \
    U32)                                                                                           \
  X(kFirmwareDown, 25, "the firmware stopped answering {} ms after the reset", U32)
// clang-format on
HLV_TRACE_TABLE(firmware_control, kComponentEngine, file::kFirmwareControl,
                HLV_FIRMWARE_CONTROL_POINTS)
#undef HLV_FIRMWARE_CONTROL_POINTS
