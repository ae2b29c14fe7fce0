#include "trace/format_string.h"

#include <cstdarg>
#include <cstdio>

#include "trace/format_string_trace.h"

namespace hlv {
namespace tp = trace_points::format_string;

std::string formatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(copy);
    trace::emit(tp::kMeasureFailed, needed);
    return {};
  }

  std::string text(static_cast<std::size_t>(needed) + 1, '\0');
  const int written = std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  if (written > needed || written < 0) {
    trace::emit(tp::kFormatFailed, written, needed);
    return {};
  }
  return text;
}

}  // namespace hlv
