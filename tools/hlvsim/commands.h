// The hlvsim commands. Each takes the arguments after its own name and returns the exit status.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hlv::sim::tool {

using Arguments = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int labCommand(const Arguments& args);         // lab init | capture | flash ...
int labInitCommand(const Arguments& args);     // LAB [options]
int labCaptureCommand(const Arguments& args);  // LAB [--sys DIR]
int labFlashCommand(const Arguments& args);    // LAB BDF FILE [--part ID]
int flashCommand(const Arguments& args);     // flash LAB BDF identify | read OUT | update ... | ...
int runCommand(const Arguments& args);       // run LAB [--uid N] [--] [ARGS...]
int queryCommand(const Arguments& args);     // query LAB [--uid N] [--] [ARGS...]
int rehearseCommand(const Arguments& args);  // rehearse LAB BUNDLE [--json] [--adapter NAME]

// Prints "hlvsim: " and the message on standard error.
void complain(const std::string& message);

// Writes the bytes to a new or truncated file; false, with a complaint, when it cannot.
bool writeOutputFile(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace hlv::sim::tool
