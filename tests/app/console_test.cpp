// Reading the operator's answer: one whole line, an unfinished line taken as end of input.
#include "app/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace hlv {
namespace {

struct AnswerCase {
  const char* what;
  std::string input;
  bool allowEmpty;
  std::string answer;
  int prompts;  // times the prompt is shown
};

// Reads one answer from the given input and returns it with everything printed meanwhile.
std::pair<std::string, std::string> answerFrom(const std::string& input, const char* prompt,
                                               bool allowEmpty) {
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  char* printed = nullptr;
  std::size_t printedSize = 0;
  std::FILE* out = open_memstream(&printed, &printedSize);
  const std::string answer = readAnswer(prompt, allowEmpty, in, out);
  std::fclose(out);
  std::fclose(in);
  std::string output(printed, printedSize);
  std::free(printed);
  return {answer, output};
}

TEST(ReadAnswer, ReturnsOneWholeLineAndTreatsAnUnfinishedLineAsEndOfInput) {
  const AnswerCase cases[] = {
      {"the line without its newline", "yes\n", false, "yes", 1},
      {"only the first line", "n\ny\n", false, "n", 1},
      {"blanks and letter case kept", " Yes \n", false, " Yes ", 1},
      {"bytes after a NUL kept", std::string("y\0s\n", 4), false, std::string("y\0s", 3), 1},
      {"empty lines ask again", "\n\nY\n", false, "Y", 3},
      {"an empty line is an answer when allowed", "\nY\n", true, "", 1},
      {"end of input", "", false, "", 1},
      {"a last line without newline is dropped", "yes", false, "", 1},
      {"an empty line, then an unfinished one", "\nyes", false, "", 2},
  };
  const std::string prompt = "Proceed? ";
  for (const AnswerCase& c : cases) {
    const auto [answer, output] = answerFrom(c.input, prompt.c_str(), c.allowEmpty);
    EXPECT_EQ(answer, c.answer) << c.what;
    std::string prompts;
    for (int i = 0; i < c.prompts; ++i)
      prompts += prompt;
    EXPECT_EQ(output, prompts) << c.what;
  }
}

TEST(ReadAnswer, PrintsNothingWithoutAPrompt) {
  const auto [answer, output] = answerFrom("\nabc\n", nullptr, false);
  EXPECT_EQ(answer, "abc");
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace hlv
