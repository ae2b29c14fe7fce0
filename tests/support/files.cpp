#include "tests/support/files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace hlv::test {

void writeFile(const std::string& path, const std::string& contents) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << contents;
}

void writeBinaryFile(const std::string& path, const std::vector<uint8_t>& contents) {
  writeFile(path, std::string(contents.begin(), contents.end()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> readBinaryFile(const std::string& path) {
  const std::string text = readFile(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

bool fileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++found;
  return found;
}

}  // namespace hlv::test
