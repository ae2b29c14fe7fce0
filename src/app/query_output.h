// What hlvquery shows: a table for people, one JSON object for scripts (its schema is
// schema/query.schema.json), node_exporter textfile metrics for monitoring, and the runs the
// tool recorded.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "app/adapter_query.h"

namespace hlv {

inline constexpr unsigned kQuerySchemaVersion = 1;

std::string formatQueryTable(const MachineQuery& query);
// One JSON object, with a line feed after it. `time` is when the query was made.
std::string formatQueryJson(const MachineQuery& query, const std::string& hostName,
                            std::time_t time);
// The Prometheus text format: per adapter its firmware, the state of its flash and, with a
// bundle, whether the bundle would update it; the newest recorded run's status and end time.
std::string formatPrometheus(const MachineQuery& query, const std::vector<RecordedRun>& runs);

std::string formatHistoryText(const std::vector<RecordedRun>& runs);
std::string formatHistoryJson(const std::vector<RecordedRun>& runs);

// Writes `text` as the file at `path` so that a reader (node_exporter) sees the old file or the
// new one whole: created new beside it under a name that does not end in ".prom" (never through
// a link; mode 0644, for node_exporter's own user), flushed, then renamed over it, and the
// directory flushed. The
// directory must pass the tool's check (not a link, root's own, writable by nobody else). 0, or
// the errno, with `problem` saying what failed.
int writeMetricsFile(const std::string& path, const std::string& text, std::string& problem);

}  // namespace hlv
