// The front end of the log: formats messages into lines and hands them to
// the background writer thread through a bounded queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace quillmarsh::log {

// Turns an error code into the text of the thread's diagnostic lines.
using ErrorTextFunction = std::function<std::string(uint32_t)>;

class LogWriter {
 public:
  struct Options {
    std::u16string file_name;
    int64_t max_size_kb = 200;
    // Lines are written by the calling thread instead of the writer thread.
    bool direct = false;
    // Shown in the log-start line.
    uint32_t own_session_id = 0xFFFFFFFF;
  };

  LogWriter(platform::System& system, ErrorTextFunction error_text, Options options);
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  bool Opened() const;
  // Each returns the first formatted line; an empty text does nothing.
  std::u16string Info(std::string_view text);
  std::u16string Error(std::string_view text);
  // Writes what is pending, stops the thread and closes the file.
  void Close();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmarsh::log
