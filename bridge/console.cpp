#include "console.h"

#include <atomic>
#include <cstdarg>

namespace kesto::bridge {
namespace {
std::atomic<std::FILE*> g_stream{nullptr};  // null: standard output
}  // namespace

void ConsolePrint(const char* format, ...) {
  std::FILE* stream = g_stream.load();
  if (stream == nullptr) stream = stdout;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::fflush(stream);
}

void SetConsoleStream(std::FILE* stream) { g_stream.store(stream); }

}  // namespace kesto::bridge
