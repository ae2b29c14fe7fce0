// Labs built the way users and other tests build them: directly from the layout on disk.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv::test {

// Writes LAB/adapters/<bdf>/adapter.conf and, when size is not 0, a flash.bin of that size with
// seeded random contents; returns those contents.
inline std::vector<uint8_t> addLabAdapter(const std::string& lab, const std::string& bdf,
                                          const std::string& conf, uint32_t size = 0,
                                          uint32_t seed = 1) {
  writeFile(lab + "/adapters/" + bdf + "/adapter.conf", conf);
  std::vector<uint8_t> contents(size);
  std::mt19937 random(seed);
  for (uint8_t& byte : contents)
    byte = static_cast<uint8_t>(random());
  if (size != 0) writeBinaryFile(lab + "/adapters/" + bdf + "/flash.bin", contents);
  return contents;
}

// Options for a run in the given working directory.
inline ProcessOptions inDirectory(const std::string& directory) {
  ProcessOptions options;
  options.workDir = directory;
  options.timeoutSeconds = 300;
  return options;
}

// hlvsim with the given arguments, allowed a long run.
inline ProcessResult runHlvsim(const std::vector<std::string>& args) {
  ProcessOptions options;
  options.timeoutSeconds = 300;
  return runProcess(builtProgram("hlvsim"), args, options);
}

// The value of one `key = value` line of a stats file, or -1.
inline long long statValue(const std::string& stats, const std::string& key) {
  const std::string prefix = key + " = ";
  std::size_t at = 0;
  while ((at = stats.find(prefix, at)) != std::string::npos) {
    if (at == 0 || stats[at - 1] == '\n') return std::stoll(stats.substr(at + prefix.size()));
    at += prefix.size();
  }
  return -1;
}

}  // namespace hlv::test
