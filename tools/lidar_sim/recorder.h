#ifndef KESTO_TOOLS_LIDAR_SIM_RECORDER_H_
#define KESTO_TOOLS_LIDAR_SIM_RECORDER_H_

// What the emulated lidars sent and were told, as files a test that runs lidar-sim as a program
// compares with what the host made of it. One folder for all lidars; file names start with the
// lidar's address:
//   A.events        one line per event, appended as it happens (and before anything it
//                   describes is sent):
//                     "command 0xIIII answered HEX"  a host command the lidar handled, or
//                     "command 0xIIII silent HEX"    one it left unanswered on purpose
//                                                    (discovery requests are not recorded);
//                     "log-reply HEX"                the host's reply to a log file push;
//                     "push T"                       a state push sent, T its local_time_now;
//                     "reboot T W"                   the lidar went down for a reboot,
//                     "drop T W"                     went off the network,
//                     "move T W A"                   went down to come back at address A,
//                     "up T W"                       came back (after each of these three);
//                   HEX is the frame's payload in lowercase hexadecimal; T is the steady clock
//                   in nanoseconds (the clock of local_time_now), W the wall clock in
//                   nanoseconds since 1970. A is the lidar's first address, also after a move.
//   A.point, A.imu  the last packet of that stream, written when the stream ends by its count
//                   or time bound (written aside and renamed, so a reader sees it whole);
//   A.log-T-F       the text of log file F of log type T, as the lidar pushed it.
// Threads: the emulator's loop thread only. Write failures are logged once per file name and
// otherwise ignored: the emulator serves its host whether or not a test can record.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace kesto::lidar_sim {

class Recorder {
 public:
  // An empty folder records nothing.
  explicit Recorder(std::string folder) : folder_(std::move(folder)) {}

  bool enabled() const { return !folder_.empty(); }
  // Appends `line` and a line feed to A.events.
  void Event(const std::string& address, const std::string& line);
  // Replaces the file A + suffix with these bytes.
  void Replace(const std::string& address, const std::string& suffix, const uint8_t* bytes,
               size_t size);

  static std::string Hex(const uint8_t* bytes, size_t size);

 private:
  void ReportFailure(const std::string& path);

  const std::string folder_;
  std::set<std::string> failed_;  // paths whose failure was logged
};

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_RECORDER_H_
