// What a step of the emulator or of a companion program gives back: its value, or the line that
// says why it failed, which the caller passes up or prints. The program itself reports failures
// as numbered statuses instead.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace hlv {

// A failure on its way into whatever Result the function returns: `return fail(path + ": ...");`
struct Failure {
  std::string message;
};

inline Failure fail(std::string message) {
  return Failure{std::move(message)};
}

template <typename T = void>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Failure failure) : error_(std::move(failure.message)) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // The value; only on success.
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  // Why it failed; empty on success.
  const std::string& error() const { return error_; }

 private:
  std::optional<T> value_;
  std::string error_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : error_(std::move(failure.message)), ok_(false) {}

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
  bool ok_ = true;
};

}  // namespace hlv
