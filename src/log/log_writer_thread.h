// The log's background thread: woken by the named event, it drains the
// queue into the ring file, one batch at a time with one header write per
// batch, and writes the batch statistics and closes the file when it stops.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log/log_file.h"
#include "log/log_queue.h"
#include "platform/system.h"

namespace quillmarsh::log {

// Turns an error code into the text of the thread's diagnostic lines.
using ErrorTextFunction = std::function<std::string(uint32_t)>;

class LogWriterThread {
 public:
  static constexpr uint32_t kWaitMilliseconds = 100;
  static constexpr int kMaxEventAttempts = 10;

  // Opens the event by name and starts the thread, which owns `file` from
  // then on.
  LogWriterThread(platform::System& system, ErrorTextFunction error_text,
                  std::unique_ptr<LogFile> file, std::string event_name);
  // Stops the thread when Stop was not called.
  ~LogWriterThread();
  LogWriterThread(const LogWriterThread&) = delete;
  LogWriterThread& operator=(const LogWriterThread&) = delete;

  LogQueue& Queue() { return queue_; }

  // Asks the thread to drain what is queued and end; it is woken at once.
  void RequestStop();
  // Waits until the thread has ended (and the file is closed).
  void Join();

 private:
  void Run();
  void Loop();
  // One batch; false when the lock was busy. `more`: lines are waiting.
  bool Drain(bool blocking, bool* more = nullptr);
  void Diagnose(uint32_t wait_error, uint32_t reset_error);
  void WriteDiagnostic(std::u16string_view text);
  bool StopRequested();
  // Sleeps up to `milliseconds`, less when a stop is requested.
  void Pause(uint32_t milliseconds);

  platform::System& system_;
  ErrorTextFunction error_text_;
  std::unique_ptr<LogFile> file_;
  std::string event_name_;
  std::unique_ptr<platform::Event> event_;
  LogQueue queue_;
  std::vector<std::u16string> batch_;
  uint32_t largest_batch_ = 0;
  platform::CalendarTime largest_batch_time_;
  int event_attempts_ = 0;

  std::mutex stop_mutex_;
  std::condition_variable stop_changed_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace quillmarsh::log
