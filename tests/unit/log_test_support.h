// Helpers of the log tests: a scratch directory, file contents, a system
// with a fixed clock that records the log's platform calls, and the lines of
// a ring log file.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "test_support.h"

namespace quillmarsh::test {

// A fresh directory under the host's temporary directory, removed at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillmarsh-log-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::u16string U16(const std::string& utf8) { return platform::Utf8ToUtf16(utf8); }

// The host system with a settable clock, and a record of the log's calls.
class LogTestSystem : public CapturingSystem {
 public:
  platform::CalendarTime local{2024, 3, 9, 7, 5, 4, 32};
  platform::CalendarTime utc{2024, 3, 9, 6, 5, 4, 32};
  bool fail_events = false;
  // Each write to a file sleeps this long (a slow disk).
  std::chrono::milliseconds write_delay{0};
  // The log reads the tick count only when a caller waits for queue space.
  std::atomic<int> tick_count_reads{0};

  // From HoldWrites() until OpenWriteGate(), every write to a file waits: a
  // disk that stalls exactly as long as a test needs, whatever the scheduler.
  void HoldWrites() {
    std::lock_guard lock(gate_mutex_);
    writes_held_ = true;
  }
  void OpenWriteGate() {
    std::lock_guard lock(gate_mutex_);
    writes_held_ = false;
    gate_opened_.notify_all();
  }
  void PassWriteGate() {
    std::unique_lock lock(gate_mutex_);
    gate_opened_.wait(lock, [this] { return !writes_held_; });
  }

  uint32_t TickCount() override {
    ++tick_count_reads;
    return CapturingSystem::TickCount();
  }

  platform::CalendarTime LocalTime() override {
    std::lock_guard lock(mutex_);
    return local;
  }
  platform::CalendarTime UtcTime() override { return utc; }
  void SetLocal(platform::CalendarTime time) {
    std::lock_guard lock(mutex_);
    local = time;
  }

  std::unique_ptr<platform::File> OpenFile(const std::u16string& path, OpenMode mode) override {
    auto file = CapturingSystem::OpenFile(path, mode);
    if (!file) return nullptr;
    return std::make_unique<RecordingFile>(std::move(file), this);
  }

  std::unique_ptr<platform::Event> CreateEvent(const std::string& name, uint32_t* error) override {
    Record("CreateEvent " + name);
    if (fail_events) {
      *error = 5;
      return nullptr;
    }
    return CapturingSystem::CreateEvent(name, error);
  }
  std::unique_ptr<platform::Event> OpenEvent(const std::string& name, uint32_t* error) override {
    Record("OpenEvent " + name);
    if (fail_events) {
      *error = 2;
      return nullptr;
    }
    return CapturingSystem::OpenEvent(name, error);
  }

  // "WriteAt <offset> <size>", "Truncate <size>", "CreateEvent <name>", ...
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }
  void Record(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
  }

 private:
  class RecordingFile : public platform::File {
   public:
    RecordingFile(std::unique_ptr<platform::File> file, LogTestSystem* system)
        : file_(std::move(file)), system_(system) {}
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
      return file_->ReadAt(offset, buffer, size);
    }
    bool WriteAt(uint64_t offset, const void* data, size_t size) override {
      system_->Record("WriteAt " + std::to_string(offset) + " " + std::to_string(size));
      system_->PassWriteGate();
      if (system_->write_delay.count() > 0) std::this_thread::sleep_for(system_->write_delay);
      return file_->WriteAt(offset, data, size);
    }
    bool Truncate(uint64_t size) override {
      system_->Record("Truncate " + std::to_string(size));
      return file_->Truncate(size);
    }

   private:
    std::unique_ptr<platform::File> file_;
    LogTestSystem* system_;
  };

  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::mutex gate_mutex_;
  std::condition_variable gate_opened_;
  bool writes_held_ = false;
};

// The header's offset, or -1 when the header is not valid.
inline long HeaderOffset(const std::string& bytes) {
  if (bytes.size() < 16 || bytes.compare(0, 3, "\xEF\xBB\xBF") != 0 ||
      bytes.compare(14, 2, "\r\n") != 0) {
    return -1;
  }
  return std::stol(bytes.substr(3, 11));
}

// The lines from offset 16 up to the header's offset (a file that has not
// wrapped), without their CR LF.
inline std::vector<std::string> LogLines(const std::string& bytes) {
  std::vector<std::string> lines;
  const long end = HeaderOffset(bytes);
  if (end < 16 || static_cast<size_t>(end) > bytes.size()) return lines;
  size_t at = 16;
  while (at < static_cast<size_t>(end)) {
    size_t line_end = bytes.find("\r\n", at);
    if (line_end == std::string::npos || line_end >= static_cast<size_t>(end)) {
      ADD_FAILURE() << "text after the last line";
      break;
    }
    lines.push_back(bytes.substr(at, line_end - at));
    at = line_end + 2;
  }
  return lines;
}

}  // namespace quillmarsh::test
