// Everything the read, program and erase sequences need to know about one flash part.
#pragma once

#include <cstdint>

#include "flashctl/flash_status.h"

namespace hlv {

struct FlashParams {
  FlashPartType type = kFlashPartUnknown;
  uint16_t wrenOpcode = 0;    // write enable before the status write
  uint16_t wrsrOpcode = 0;    // write status
  uint16_t statusValue = 0;   // written by the status write: clears the protection bits
  uint16_t rdsrOpcode = 0;    // status read
  uint16_t busyMask = 0;      // status bits tested by the ready wait
  uint16_t readyWhenSet = 0;  // 0: ready when (status & busyMask) == 0; 1: when != 0
  uint16_t readOpcode = 0;
  uint16_t programOpcode = 0;
  uint16_t smallEraseOpcode = 0;
  uint16_t largeEraseOpcode = 0;
  uint16_t pageSize = 0;
  uint16_t smallErasePages = 0;  // 0: the part has no small erase
  uint16_t largeErasePages = 0;  // 0: the part has no large erase
  uint16_t statusTimeout = 0;    // in units of 78125 counted register accesses
  // Command and format words of the transfers (command register, format register).
  uint16_t writeEnableCommand = 0;  // before a program or an erase: always opcode 0x06
  uint16_t writeEnableFormat = 0;
  uint16_t statusWriteEnableCommand = 0;  // before the status write: wrenOpcode
  uint16_t writeStatusCommand = 0;
  uint16_t writeStatusFormat = 0;
  uint16_t statusCommand = 0;
  uint16_t statusFormat = 0;
  uint16_t readCommand = 0;
  uint16_t readFormat = 0;
  uint16_t readContinueCommand = 0;
  uint16_t programFormat = 0;
  uint16_t programContinueCommand = 0;
  uint16_t programLastCommand = 0;
  uint32_t flashSize = 0;
  // From the part's row (an SFDP part has neither quirk).
  bool noWriteEnable = false;        // no write enable and no status write
  uint16_t splitFirstUnitPages = 0;  // the large unit at 0 is two units, the second this many
                                     // pages in; 0 when it is one
};

}  // namespace hlv
