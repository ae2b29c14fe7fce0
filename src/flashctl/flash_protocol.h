// The flash command engine's register protocol as the sequences use it: the two polling loops,
// opening and closing the interface, the SFDP read, part identification and the parameter record.
#pragma once

#include <cstdint>

#include "flashctl/flash_params.h"
#include "flashctl/flash_register_access.h"
#include "flashctl/flash_status.h"

namespace hlv {

// Busy reads after which an engine poll gives up.
inline constexpr uint32_t kEnginePollLimit = 21;
// Counted register accesses that make one unit of a part's status timeout.
inline constexpr uint32_t kStatusTimeoutUnit = 78125;
// What the SFDP area's first word reads as when the part has one ("SFDP").
inline constexpr uint32_t kSfdpSignature = 0x50444653;

// The registers a flash session changes, as they were when it opened the interface.
struct SavedFlashRegisters {
  uint16_t command = 0;
  uint16_t format = 0;
  uint16_t interfaceControl = 0;
  uint16_t controlWord = 0;
};

// Reads the command register until its busy bit is clear, at most 21 times. Returns the number
// of busy reads (21 when the engine never went idle).
uint32_t pollEngine(const FlashHwContext& context);

// One engine poll: true when the engine went idle before the poll gave up.
bool waitIdle(const FlashHwContext& context);
// Polls the part's status until it reports ready: FLASH_OK then, else FLASH_ENGINE_TIMEOUT or
// FLASH_STATUS_TIMEOUT.
FlashStatus waitReady(const FlashHwContext& context, const FlashParams& params);
// The same, giving the status byte of the read that found the part ready (untouched otherwise).
FlashStatus waitReady(const FlashHwContext& context, const FlashParams& params,
                      uint16_t& readyStatus);

void openInterface(const FlashHwContext& context, SavedFlashRegisters& saved, uint8_t clockSetting);
void closeInterface(const FlashHwContext& context, const SavedFlashRegisters& saved);

uint32_t readSfdpWord(const FlashHwContext& context, uint32_t address);

FlashStatus identifyPart(const FlashHwContext& context, FlashPartType& type,
                         uint32_t& identification);

FlashStatus loadParams(const FlashHwContext& context, FlashPartType type, FlashParams& params);

}  // namespace hlv
