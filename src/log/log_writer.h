// The front end of the log: formats messages into lines and hands them to
// the background writer thread through a bounded queue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "log/log_writer_thread.h"
#include "platform/system.h"

namespace quillmarsh::log {

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
  // Closes the log when Close was not called.
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  bool Opened() const;
  // When not opened: the file's name and the system's text, "NAME: TEXT".
  std::string OpenFailure() const;
  // Each returns the first formatted line; an empty text does nothing.
  std::u16string Info(std::string_view text);
  std::u16string Error(std::string_view text);
  // The same for a text in UTF-16 (names as the server holds them).
  std::u16string Info(std::u16string_view text);
  std::u16string Error(std::u16string_view text);
  // Writes what is pending, stops the thread and closes the file.
  void Close();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The name of the event that wakes the writer thread of `file_name`: "G"
// and the MD5 digest of the stored name in the ANSI code page.
std::string LogEventName(platform::System& system, std::u16string_view file_name);

}  // namespace quillmarsh::log
