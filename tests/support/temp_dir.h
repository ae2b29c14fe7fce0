// A directory that exists for one test and is removed with everything in it afterwards.
#pragma once

#include <string>

namespace hlv::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's path, without a trailing "/".
  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

}  // namespace hlv::test
