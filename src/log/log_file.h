// The ring log file: a UTF-8 text file of bounded size whose 16-byte header
// (byte order mark, the next write offset as 11 right-aligned digits, CR LF)
// says where the next line goes. Once a line would reach the maximum size,
// writing starts again just after the header, over the oldest lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace quillmarsh::log {

class LogFile {
 public:
  static constexpr uint64_t kHeaderSize = 16;

  // Opens or creates the file and writes the log-start line.
  LogFile(platform::System& system, std::u16string_view file_name, int64_t max_size_kb,
          uint32_t own_session_id);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  bool Opened() const { return opened_; }
  // Why the file could not be opened, as the system says it.
  const std::string& OpenError() const { return open_error_; }
  const std::u16string& Name() const { return name_; }
  uint64_t MaxSize() const { return max_size_; }
  uint64_t Offset() const { return offset_; }

  // Adds one line at the current offset, wrapping when it would reach the
  // maximum size. Lines are gathered and reach the disk with the next
  // header write, in as few writes as the wrap-around allows.
  void WriteLine(std::u16string_view line);
  // Writes the gathered lines, then stores the current offset in the header.
  void WriteHeader();
  // Writes the log-stop line and the header and closes the file.
  void Close();

 private:
  void ReadHeader();
  void WritePending();

  platform::System& system_;
  std::u16string name_;
  uint64_t max_size_;
  uint64_t offset_ = kHeaderSize;
  bool opened_ = false;
  std::string open_error_;
  std::unique_ptr<platform::File> file_;
  // Lines not yet written, to go at `pending_offset_`.
  std::string pending_;
  uint64_t pending_offset_ = kHeaderSize;
};

// The name the file is stored under: ".utf8" goes before a final ".log".
std::u16string NormaliseLogName(std::u16string_view file_name);

// 20 to 1,024,000 KB give that many KiB; anything else gives 10 MiB.
uint64_t LogMaxSizeBytes(int64_t max_size_kb);

// The 16 header bytes for `offset`.
std::string LogHeader(uint64_t offset);

}  // namespace quillmarsh::log
