// Identifiers of the trace records: the component and the source-file number that every trace
// record carries. Each source file that emits records declares its points in a table of its own
// (a "<file>_trace.h" header next to it, see trace_point.h); the (component, file) pairs are
// gathered here so that none is given out twice by accident. Two tables may share a pair when
// their point numbers differ; the decoder's catalogue test checks that.
#pragma once

#include <cstdint>

namespace hlv::trace {

// Application side: shell, bundle, device access, adapter update interface, procedures.
inline constexpr uint32_t kComponentApp = 9248;
// Flash update engine and firmware control sequences.
inline constexpr uint32_t kComponentEngine = 987;

namespace file {
// Component kComponentApp.
inline constexpr uint32_t kAdapterList = 0;
inline constexpr uint32_t kDatabaseEntries = 1;  // database entry descriptions, board lookup
inline constexpr uint32_t kImageFile = 2;
inline constexpr uint32_t kProgramEntry = 3;
inline constexpr uint32_t kUpdateSession = 5;
inline constexpr uint32_t kConsole = 6;     // prompts, adapter table, operator text
inline constexpr uint32_t kProcedures = 7;  // update/rollback/backup, image selection, formatString
inline constexpr uint32_t kDeviceAccess = 8;  // driver control, discovery
inline constexpr uint32_t kDatabaseLoading = 9;
inline constexpr uint32_t kUpdateInterface = 10;
inline constexpr uint32_t kProcessUtilities = 15;  // interrupt handler, log directory
inline constexpr uint32_t kRunReport = 16;
// Component kComponentEngine.
inline constexpr uint32_t kEngine = 0;
inline constexpr uint32_t kFirmwareControl = 2;
inline constexpr uint32_t kEngineSupport = 3;
inline constexpr uint32_t kEngineFurther = 4;
inline constexpr uint32_t kFlashControl = 5;  // flash control object and its register sequences
inline constexpr uint32_t kEngineState = 6;  // the read-only look at a flash
}  // namespace file

}  // namespace hlv::trace
