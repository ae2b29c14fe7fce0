#include "app/program_entry.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/console.h"
#include "app/exit_status.h"
#include "app/interrupt_handler.h"
#include "app/program_entry_trace.h"
#include "app/program_options.h"
#include "app/tool_directory.h"
#include "app/tool_version.h"
#include "app/update_session.h"
#include "platform/platform.h"

namespace hlv {
namespace tp = trace_points::program_entry;

// Built during static initialisation, before any entry function runs; it lives in this
// translation unit so that whatever links programMain links it too.
ProgramOptions gProgramOptions;

namespace {

// What ends the run, as its report tells it.
void recordInterrupt(int signalNumber) {
  if (gProgramOptions.session) gProgramOptions.session->recordInterrupt(signalNumber);
}

int runProgram(int argc, char** argv) {
  ProgramOptions& options = gProgramOptions;
  trace::emit(tp::kProgramStarted, argc);
  std::printf("Vostrel Tessarin Firmware Update Tool [Version %u.%u.%u]\n \n", kVersionMajor,
              kVersionMinor, kVersionBuild);

  const uid_t user = platform::current().realUserId();
  if (user != 0) {
    trace::emit(tp::kNotRoot, static_cast<uint32_t>(user));
    std::puts("[*] Administrator privileges are needed to run application. ");
    return kExitFailure;
  }

  const bool usable = parseCommandLine(argc, argv, options);
  if (!usable || options.help) {
    trace::emit(tp::kUsageShown, options.help);
    std::printf("%s \n", kUsageText);
    return options.help ? kExitHelpShown : kExitFailure;
  }

  std::puts("*** Important notice *** ");
  std::puts("Update utility is only supported for certain systems. ");
  std::puts("Please refer README file for supported systems.\n ");

  if (!options.silent) {
    const std::string answer = readAnswer("Proceed with update? (y/n): ", false);
    trace::emit(tp::kConfirmationAnswer, answer);
    if (!isConfirmation(answer)) {
      trace::emit(tp::kNotConfirmed);
      return kExitFailure;
    }
  }

  // From here on an interrupt ends the program with status 41 after the session's teardown.
  installInterruptHandler();
  setInterruptObserver(&recordInterrupt);
  trace::emit(tp::kInterruptHandlerInstalled);

  const std::string toolDirectory = findToolDirectory();
  if (toolDirectory.empty()) {
    trace::emit(tp::kNoToolDirectory);
    std::puts("[!] Couldn't get update tool location ");
    pressAnyKey(options.silent);
    return kExitFailure;
  }

  options.session.reset();
  options.session = std::make_unique<UpdateSession>(
      toolDirectory, SessionOptions{options.silent, options.rollback, options.adapterName});
  const uint32_t result = options.session->run();
  trace::emit(tp::kSessionResult, result);
  const int exitStatus =
      result == kSessionOperatorQuit ? kExitInterrupted : static_cast<int>(result);
  options.session->recordExitStatus(exitStatus);
  if (result == kSessionOperatorQuit) return exitStatus;
  pressAnyKey(options.silent);
  return exitStatus;
}

}  // namespace

int programMain(int argc, char** argv) {
  // Nothing the standard library throws (allocation failure, in practice) may leave the program
  // through its entry.
  try {
    return runProgram(argc, argv);
  } catch (const std::exception& failure) {
    trace::emit(tp::kUnexpectedFailure, failure.what());
    std::printf("[!] Unexpected failure: %s \n", failure.what());
    if (gProgramOptions.session) gProgramOptions.session->recordExitStatus(kExitFailure, true);
    return kExitFailure;
  }
}

}  // namespace hlv
