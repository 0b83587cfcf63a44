#ifndef KESTO_TESTS_BRIDGE_CONSOLE_CAPTURE_H_
#define KESTO_TESTS_BRIDGE_CONSOLE_CAPTURE_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "child_process.h"
#include "console.h"

namespace kesto::bridge::test {

// Sends the bridge's console to a temporary file while it lives; Text() is everything printed
// since. The file is binary, so the text is byte for byte what the bridge wrote.
class ConsoleCapture {
 public:
  ConsoleCapture()
      : path_(testing::TempDir() + kesto::test::UniqueName("kesto_console") + ".txt"),
        file_(std::fopen(path_.c_str(), "w+b")) {
    if (file_ != nullptr) SetConsoleStream(file_);
  }
  ~ConsoleCapture() {
    SetConsoleStream(nullptr);
    if (file_ != nullptr) std::fclose(file_);
    std::remove(path_.c_str());
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  bool ok() const { return file_ != nullptr; }

  // Nothing is buffered: every message is flushed as it is printed, so the file holds it all.
  std::string Text() const {
    std::FILE* reader = std::fopen(path_.c_str(), "rb");
    if (reader == nullptr) return "<cannot read " + path_ + ">";
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, reader)) > 0;) text.append(buffer, n);
    std::fclose(reader);
    return text;
  }

 private:
  std::string path_;
  std::FILE* file_;
};

}  // namespace kesto::bridge::test

#endif  // KESTO_TESTS_BRIDGE_CONSOLE_CAPTURE_H_
