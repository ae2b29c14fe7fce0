#pragma once

#include "trace/trace_point.h"

#define HLV_FLASH_PROTOCOL_POINTS(X)                                                              \
  X(kWaitReadyEngineTimeout, 20, "ready wait: command engine busy after {} reads", U32)           \
  X(kWaitReadyStatusTimeout, 21, "ready wait: part busy, last status {x}, timeout {} units", U16, \
    U16)                                                                                          \
  X(kInterfaceOpened, 22, "interface opened: saved command {x} format {x} control {x} word {x}",  \
    U16, U16, U16, U16)                                                                           \
  X(kInterfaceClosed, 23, "interface closed")                                                     \
  X(kShortIdentification, 24, "short identification answered {x}", U32)                           \
  X(kJedecIdentification, 25, "JEDEC identification answered {x}", U32)                           \
  X(kIdentified, 26, "part identified: type {}", U32)                                             \
  X(kIdentifyEngineTimeout, 27, "identification: command engine never idle")                      \
  X(kUnknownPart, 28, "identification: unknown part {x}", U32)                                    \
  X(kNoParameters, 29, "no parameters for part type {}", U32)                                     \
  X(kSfdpHeader, 30, "SFDP basic table at {x}, revision {}.{}, {} words", U32, U8, U8, U8)
HLV_TRACE_TABLE(flash_protocol, kComponentEngine, file::kFlashControl, HLV_FLASH_PROTOCOL_POINTS)
#undef HLV_FLASH_PROTOCOL_POINTS
