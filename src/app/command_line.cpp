#include "app/command_line.h"

#include <cstdio>

#include "app/command_line_trace.h"

namespace hlv {
namespace tp = trace_points::command_line;

bool parseCommandLine(int argc, char** argv, ProgramOptions& options) {
  trace::emit(tp::kParseStarted, argc);
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-' && argument[0] != '/') {
      trace::emit(tp::kNotAnOption, argument);
      std::printf("unknown argument: '%s' \n", argument);
      return false;
    }
    if (argument[1] == '\0') {
      trace::emit(tp::kBarePrefix, argument);
      std::printf("[!] unknown option: '%s' \n", argument);
      return false;
    }
    if (argument[2] != '\0') {
      trace::emit(tp::kLongOption, argument);
      std::printf("unknown option: '%s' \n", argument);
      return false;
    }
    switch (argument[1]) {
      case 'h':
      case '?':
        trace::emit(tp::kHelpRequested);
        options.help = true;
        return true;
      case 'a':
        // The next argument is the name, whatever it looks like.
        if (i + 1 >= argc) {
          trace::emit(tp::kAdapterNameMissing);
          std::puts("[!] argument missing for '-a' parameter ");
          return false;
        }
        ++i;
        options.adapterName = argv[i];
        trace::emit(tp::kAdapterNameGiven, options.adapterName);
        break;
      case 'r':
        trace::emit(tp::kRollbackRequested);
        options.rollback = true;
        break;
      case 's':
        trace::emit(tp::kSilentRequested);
        options.silent = true;
        break;
      default:
        trace::emit(tp::kUnknownOption, argument);
        std::printf("[!] unknown option: '%s' \n", argument);
        return false;
    }
  }
  // A rollback always asks the operator to confirm, so it cannot run silently.
  if (options.rollback && options.silent) {
    trace::emit(tp::kRollbackWithSilent);
    std::puts("Unsupported combination of command line parameters. ");
    return false;
  }
  trace::emit(tp::kParsed, options.silent, options.rollback, options.adapterName);
  return true;
}

}  // namespace hlv
