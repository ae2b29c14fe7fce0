#include "app/console.h"

#include <cerrno>

#include "app/console_trace.h"
#include "platform/interrupt_hold.h"

namespace hlv {
namespace tp = trace_points::console;

namespace {

// The next character; a read that an interrupt broke off is a checkpoint and is then repeated.
int nextCharacter(std::FILE* input) {
  for (;;) {
    platform::interruptCheckpoint();
    errno = 0;
    const int c = std::getc(input);
    if (c != EOF || !std::ferror(input) || errno != EINTR) return c;
    std::clearerr(input);
  }
}

}  // namespace

std::optional<std::string> readLine(std::FILE* input) {
  std::string line;
  int c;
  while ((c = nextCharacter(input)) != EOF && c != '\n')
    line.push_back(static_cast<char>(c));
  if (std::feof(input) || std::ferror(input)) {
    trace::emit(tp::kInputEnded, std::ferror(input) != 0);
    return std::nullopt;
  }
  return line;
}

std::string readAnswer(const char* prompt, bool allowEmpty, std::FILE* input, std::FILE* output) {
  for (;;) {
    // An interrupt that arrived before the prompt ends the run without showing it.
    platform::interruptCheckpoint();
    if (prompt != nullptr) {
      std::fprintf(output, "%s", prompt);
      // The prompt must be on the screen before the program waits for the answer.
      std::fflush(output);
    }
    std::optional<std::string> read = readLine(input);
    if (!read) return {};
    std::string& line = *read;
    if (line.empty() && !allowEmpty) {
      trace::emit(tp::kEmptyAnswer);
      continue;
    }
    trace::emit(tp::kAnswerRead, static_cast<uint64_t>(line.size()));
    return line;
  }
}

void showStep(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void pressAnyKey(bool silent) {
  trace::emit(tp::kPressAnyKey, silent);
  if (silent) return;
  std::printf("\nPress any key... \n");
}

bool isConfirmation(std::string answer) {
  // The program's locale is never changed, so only the ASCII letters have a lower case.
  for (char& c : answer) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return answer == "y" || answer == "yes";
}

void traceText(std::string_view text) {
  trace::emit(tp::kOperatorText, text);
}

}  // namespace hlv
