// The return of one adapter to the firmware it ran before its last update.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/adapter_entry.h"
#include "app/adapter_outcome.h"
#include "app/exit_status.h"
#include "trace/log_directory.h"

namespace hlv {

class UpdateSession;

// The table in rollback mode, the choice of adapter (the -a name, or the prompt), then
// rollbackAdapter. The operator's answers are read from input (standard input in the program).
// What the rollback did is recorded in the session's outcome for the chosen adapter.
uint32_t rollbackSelection(UpdateSession& session, std::FILE* input = stdin);

// Confirmation, backup, rollback, firmware reload and driver restart for one adapter. The result
// is that of the rollback itself once the backup is complete; otherwise kRollbackNotPossible,
// kRollbackAborted or the backup's code, and the adapter is untouched. Before the flash is
// touched, a journal in the run directory records what the rollback rewrites and the backup it
// relies on. An adapter without a previous firmware whose last rollback was cut short while it
// rewrote the previous block is rolled back from the backup that rollback's journal names, and
// from no other file (app/rollback_journal.h). `outcome`, when given, records each step as it
// ends.
uint32_t rollbackAdapter(const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                         std::FILE* input = stdin, AdapterOutcome* outcome = nullptr);

}  // namespace hlv
