#include "command_line.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "console.h"

#ifndef KESTO_VERSION
#define KESTO_VERSION "unknown"
#endif

namespace kesto::bridge {

namespace {

// Megabytes per file: at least one, and few enough that the byte count stays far from overflow.
constexpr unsigned long kMaxRecordMegabytes = 1000000;

bool ParseMegabytes(std::string_view text, uint32_t& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  errno = 0;
  const std::string copy(text);
  const unsigned long value = std::strtoul(copy.c_str(), nullptr, 10);
  if (errno != 0 || value == 0 || value > kMaxRecordMegabytes) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  auto fail = [&line](std::string text) {
    line.action = CommandLine::Action::kError;
    line.error = std::move(text);
    return line;
  };
  bool max_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    const bool has_value = i + 1 < argc && argv[i + 1] != nullptr;
    if (arg == "--help" || arg == "-h") {
      line.action = CommandLine::Action::kHelp;
      return line;
    } else if (arg == "--version") {
      line.action = CommandLine::Action::kVersion;
      return line;
    } else if (arg == "--record") {
      if (!has_value || *argv[i + 1] == '\0') return fail("--record needs a file name");
      line.options.record_path = argv[++i];
    } else if (arg == "--record-max-mb") {
      if (!has_value || !ParseMegabytes(argv[i + 1], line.options.record_max_mb)) {
        return fail("--record-max-mb needs a whole number of megabytes from 1 to 1000000");
      }
      ++i;
      max_given = true;
    } else {
      return fail("unknown argument '" + std::string(arg) + "'");
    }
  }
  if (max_given && line.options.record_path.empty()) return fail("--record-max-mb needs --record");
  return line;
}

const char* UsageText() {
  return "Usage: cloudpump [--record FILE [--record-max-mb N]] [--help] [--version]\n"
         "\n"
         "Reads \"config.json\" from the working directory, finds and sets up the lidars it\n"
         "names, and copies every point and IMU packet into the shared blocks until Ctrl-C.\n"
         "\n"
         "  --record FILE       also record every datagram exchanged with the lidars into FILE,\n"
         "                      a pcapng capture (Wireshark, lidar-sim --replay, lidarread)\n"
         "  --record-max-mb N   start a new numbered file every N megabytes (FILE, FILE-2, ...)\n"
         "  --help              show this text\n"
         "  --version           show the version\n";
}

const char* VersionText() { return "cloudpump " KESTO_VERSION "\n"; }

int CloudpumpMain(int argc, const char* const* argv) {
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::Action::kHelp:
      ConsolePrint("%s", UsageText());
      return 0;
    case CommandLine::Action::kVersion:
      ConsolePrint("%s", VersionText());
      return 0;
    case CommandLine::Action::kError:
      ConsolePrint("cloudpump: %s\n\n%s", line.error.c_str(), UsageText());
      return 2;
    case CommandLine::Action::kRun:
      break;
  }
  return RunBridge(line.options);
}

}  // namespace kesto::bridge
