#ifndef KESTO_BRIDGE_CONSOLE_H_
#define KESTO_BRIDGE_CONSOLE_H_

#include <cstdio>

// The bridge's console: every message of the bridge goes through ConsolePrint, which writes it
// in one call and flushes it, so each line reaches a pipe, a file or a log collector at once
// rather than when the program ends. Safe from any thread (one message is one stdio call, so
// messages of different threads do not interleave).

#if defined(__GNUC__)
#define KESTO_BRIDGE_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define KESTO_BRIDGE_PRINTF_FORMAT
#endif

namespace kesto::bridge {

// printf-style message to the console stream, then a flush.
void ConsolePrint(const char* format, ...) KESTO_BRIDGE_PRINTF_FORMAT;

// The stream the messages go to: standard output unless a test set another. Set it before the
// kit starts; null restores standard output.
void SetConsoleStream(std::FILE* stream);

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_CONSOLE_H_
