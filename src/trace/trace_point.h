// Trace points: declared once, in one table per source file, and emitted by name.
//
// A source file "foo.cpp" that emits records declares them in "foo_trace.h":
//
//   #define HLV_FOO_POINTS(X)
//     X(kOpened, 0, "file {} opened", Text)
//     X(kReadFailed, 1, "read of {x} bytes failed: errno {}", U32, I32)
//   HLV_TRACE_TABLE(foo, kComponentApp, file::kFoo, HLV_FOO_POINTS)
//
// (each line of the list but the last ending in a backslash), at global scope
//
// which defines, in namespace hlv::trace_points::foo, one typed constant per point and the table
// kTable that the decoder reads. The code then writes `trace::emit(tp::kReadFailed, n, errno)`;
// the arguments are converted to the declared kinds, so a record always has the declared shape.
// In messages, "{}" stands for the next argument in decimal, "{x}" in hexadecimal.
//
// The table's numbers come from its entry in trace_ids.h (kPointNumbers, under the table's
// name); the build refuses a point outside them or on a retired number, and the decoder's
// catalogue test refuses a table of the program without an entry.
//
// A point whose arguments other code reads by their position (hlvsim's rehearsal reads the
// program's own trace, the demo and the end-to-end tests read decoded lines) is declared with
// its number as byPosition(n): its arguments then keep their order and kinds, and the readers
// that insist on it (the rehearsal) only take points declared so.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "trace/trace_ids.h"
#include "trace/trace_sink.h"

namespace hlv::trace {

enum class ArgKind : uint8_t { kBool, kU8, kU16, kU32, kI32, kU64, kI64, kText };

namespace kinds {
using Bool = bool;
using U8 = uint8_t;
using U16 = uint16_t;
using U32 = uint32_t;
using I32 = int32_t;
using U64 = uint64_t;
using I64 = int64_t;
using Text = std::string_view;
}  // namespace kinds

template <class T>
constexpr ArgKind argKindOf() {
  if constexpr (std::is_same_v<T, bool>)
    return ArgKind::kBool;
  else if constexpr (std::is_same_v<T, uint8_t>)
    return ArgKind::kU8;
  else if constexpr (std::is_same_v<T, uint16_t>)
    return ArgKind::kU16;
  else if constexpr (std::is_same_v<T, uint32_t>)
    return ArgKind::kU32;
  else if constexpr (std::is_same_v<T, int32_t>)
    return ArgKind::kI32;
  else if constexpr (std::is_same_v<T, uint64_t>)
    return ArgKind::kU64;
  else if constexpr (std::is_same_v<T, int64_t>)
    return ArgKind::kI64;
  else {
    static_assert(std::is_same_v<T, std::string_view>, "unsupported trace argument type");
    return ArgKind::kText;
  }
}

// Bytes a fixed-width argument occupies; 0 for text.
constexpr uint32_t argWidth(ArgKind kind) {
  switch (kind) {
    case ArgKind::kBool:
    case ArgKind::kU8:
      return 1;
    case ArgKind::kU16:
      return 2;
    case ArgKind::kU32:
    case ArgKind::kI32:
      return 4;
    case ArgKind::kU64:
    case ArgKind::kI64:
      return 8;
    case ArgKind::kText:
      return 0;
  }
  return 0;
}

inline constexpr std::size_t kMaxTraceArgs = 12;

// A point number whose arguments are read by their position elsewhere: byPosition(n) in a table.
struct ReadByPosition {
  uint32_t number;
};
constexpr ReadByPosition byPosition(uint32_t number) {
  return {number};
}
constexpr uint32_t pointNumber(uint32_t number) {
  return number;
}
constexpr uint32_t pointNumber(ReadByPosition number) {
  return number.number;
}
constexpr bool isReadByPosition(uint32_t) {
  return false;
}
constexpr bool isReadByPosition(ReadByPosition) {
  return true;
}

// What the decoder knows of one point.
struct PointInfo {
  uint32_t point;
  const char* name;
  const char* message;
  std::array<ArgKind, kMaxTraceArgs> kinds;
  uint8_t argCount;
  bool readByPosition = false;  // declared byPosition(n)
};

// One source file's table.
struct TableInfo {
  const char* name;
  uint32_t component;
  uint32_t file;
  std::span<const PointInfo> points;
  const PointNumbers* numbers;  // its entry in kPointNumbers; null for a test's own table
};

template <class... Args, class Number>
constexpr PointInfo makePointInfo(Number number, const char* name, const char* message) {
  static_assert(sizeof...(Args) <= kMaxTraceArgs, "too many trace arguments");
  PointInfo info{pointNumber(number), name, message, {argKindOf<Args>()...}, sizeof...(Args)};
  info.readByPosition = isReadByPosition(number);
  return info;
}

// A typed trace point: the record identifiers plus, in its type, the kinds of its arguments.
template <class... Args>
struct Point {
  uint32_t component;
  uint32_t file;
  uint32_t point;
  bool readByPosition = false;  // declared byPosition(n): its arguments keep their places
};

// The table's entry in kPointNumbers (by its index) is of its (component, file) pair.
constexpr bool pairFits(std::size_t numbersIndex, uint32_t component, uint32_t file) {
  if (numbersIndex >= std::size(kPointNumbers)) return true;
  return kPointNumbers[numbersIndex].component == component &&
         kPointNumbers[numbersIndex].file == file;
}

// Every point of the table lies in its numbers and on none retired. A table without numbers (a
// test's own) is not checked; every table of the program has them (the catalogue test checks).
constexpr bool pointsFit(std::span<const PointInfo> points, std::size_t numbersIndex) {
  if (numbersIndex >= std::size(kPointNumbers)) return true;
  const PointNumbers& numbers = kPointNumbers[numbersIndex];
  for (const PointInfo& point : points) {
    if (!numbers.contains(point.point)) return false;
    if (isRetired(numbers.component, numbers.file, point.point)) return false;
  }
  return true;
}

// One argument of a record, converted to its declared kind. Whatever converts to the kind is
// taken as it converts; a scoped enumeration (a status, say) is taken as its number.
template <class T>
struct Arg {
  template <class U>
  requires std::is_convertible_v<U, T> Arg(U&& given)  // NOLINT: implicit by design
      : value(std::forward<U>(given)) {}
  template <class E>
  requires(std::is_enum_v<E> && !std::is_convertible_v<E, T>)
      Arg(E given)  // NOLINT: implicit by design
      : value(static_cast<T>(static_cast<std::underlying_type_t<E>>(given))) {}
  T value;
};

// Writes one record when the trace file is open; costs only the is-open test otherwise.
template <class... Args>
void emit(const Point<Args...>& p, std::type_identity_t<Arg<Args>>... args) {
  TraceSink& sink = traceSink();
  if (!sink.isOpen()) return;
  sink.writeWord(p.component);
  sink.writeWord(p.file);
  sink.writeWord(p.point);
  (sink.writeArg(args.value), ...);
}

}  // namespace hlv::trace

#define HLV_TRACE_DECLARE_POINT_(name, number, message, ...)                                \
  inline constexpr ::hlv::trace::Point<__VA_ARGS__> name{kComponent, kFile,                 \
                                                         ::hlv::trace::pointNumber(number), \
                                                         ::hlv::trace::isReadByPosition(number)};
#define HLV_TRACE_DESCRIBE_POINT_(name, number, message, ...) \
  ::hlv::trace::makePointInfo<__VA_ARGS__>(number, #name, message),

#define HLV_TRACE_TABLE(table, componentId, fileId, POINTS)                                       \
  namespace hlv::trace_points::table {                                                            \
  using namespace ::hlv::trace;                                                                   \
  using namespace ::hlv::trace::kinds;                                                            \
  inline constexpr uint32_t kComponent = (componentId);                                           \
  inline constexpr uint32_t kFile = (fileId);                                                     \
  inline constexpr std::size_t kNumbersIndex = ::hlv::trace::pointNumbersIndex(#table);           \
  static_assert(::hlv::trace::pairFits(kNumbersIndex, kComponent, kFile),                         \
                "trace table " #table ": its pair differs from its entry in trace_ids.h");        \
  POINTS(HLV_TRACE_DECLARE_POINT_)                                                                \
  inline constexpr ::hlv::trace::PointInfo kPoints[] = {POINTS(HLV_TRACE_DESCRIBE_POINT_)};       \
  static_assert(::hlv::trace::pointsFit(kPoints, kNumbersIndex),                                  \
                "trace table " #table ": a point retired or outside its numbers in trace_ids.h"); \
  inline constexpr ::hlv::trace::TableInfo kTable{#table, kComponent, kFile, kPoints,             \
                                                  ::hlv::trace::pointNumbersAt(kNumbersIndex)};   \
  }
