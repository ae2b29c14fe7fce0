// The rollback journal as a later run reads it from the logs: parsed, and what parses is exactly
// the text the tool would write for it.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "app/rollback_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<hlv::RollbackJournal> journal = hlv::parseRollbackJournal(text);
  if (journal && hlv::formatRollbackJournal(*journal) != text) std::abort();
  return 0;
}
