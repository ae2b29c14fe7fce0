// Operator input and the closing console line.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace hlv {

// One line of input without its newline. Nothing at end of input or on a read error, and also
// for a last line that ends without a newline (the stream then reports end of file).
std::optional<std::string> readLine(std::FILE* input);

// Prints the prompt (when one is given) and reads one line, without its newline. End of input
// or a read error yields the empty string at once; a last line that ends without a newline
// counts as end of input and its text is dropped. An empty line shows the prompt again unless
// allowEmpty is set. The streams are standard input and output unless a caller (a test) gives
// others.
std::string readAnswer(const char* prompt, bool allowEmpty, std::FILE* input = stdin,
                       std::FILE* output = stdout);

// True for "y" or "yes" in any letter case.
bool isConfirmation(std::string answer);

// Prints the start of a step's line, which its result word ends later, and shows it at once: the
// step (a backup, an update, a firmware reload) may take seconds.
void showStep(const char* text);

// Prints "\nPress any key... " and a newline unless silent; it does not wait for a key.
void pressAnyKey(bool silent);

// Traces one line the operator typed, as the one-text record of the console.
void traceText(std::string_view text);

}  // namespace hlv
