#include "log/log_writer_thread.h"

#include "log/log_text.h"
#include "log/log_time.h"

namespace quillmarsh::log {

LogWriterThread::LogWriterThread(platform::System& system, ErrorTextFunction error_text,
                                 std::unique_ptr<LogFile> file, std::string event_name)
    : system_(system),
      error_text_(std::move(error_text)),
      file_(std::move(file)),
      event_name_(std::move(event_name)),
      largest_batch_time_(system.LocalTime()) {
  uint32_t error = 0;
  event_ = system_.OpenEvent(event_name_, &error);
  thread_ = std::thread([this] { Run(); });
}

LogWriterThread::~LogWriterThread() {
  RequestStop();
  Join();
}

void LogWriterThread::RequestStop() {
  {
    std::lock_guard lock(stop_mutex_);
    stop_ = true;
  }
  stop_changed_.notify_all();
}

void LogWriterThread::Join() {
  if (thread_.joinable()) thread_.join();
}

bool LogWriterThread::StopRequested() {
  std::lock_guard lock(stop_mutex_);
  return stop_;
}

void LogWriterThread::Pause(uint32_t milliseconds) {
  std::unique_lock lock(stop_mutex_);
  stop_changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stop_; });
}

void LogWriterThread::Run() {
  try {
    Loop();
  } catch (...) {
    // Out of memory: the producer must not wait for a thread that is gone.
    queue_.Close();
  }
}

void LogWriterThread::Loop() {
  system_.SetCurrentThreadBelowNormalPriority();
  // After a busy queue lock the next cycle retries almost at once instead
  // of waiting for another signal.
  bool missed_lock = false;
  // Lines arrived while the last batch was written: drain again at once.
  bool pending = false;
  while (!StopRequested()) {
    bool drain = missed_lock;
    bool trouble = false;
    uint32_t wait_error = 0;
    uint32_t reset_error = 0;
    if (pending) {
      drain = true;
    } else if (event_) {
      const auto result = event_->Wait(missed_lock ? 1 : kWaitMilliseconds, &wait_error);
      if (result == platform::Event::WaitResult::kSignalled) {
        drain = true;
        if (!event_->Reset(&reset_error)) trouble = true;
      } else if (result == platform::Event::WaitResult::kFailed) {
        trouble = true;
      }
    } else {
      Pause(kWaitMilliseconds);
      drain = true;
      trouble = true;
    }
    if (drain) missed_lock = !Drain(false, &pending);
    if (trouble && !StopRequested()) Diagnose(wait_error, reset_error);
  }
  // Everything was queued before the stop request, so one blocking drain
  // takes the rest.
  Drain(true);
  queue_.Close();

  std::u16string statistics = TimeStamp(system_.LocalTime());
  statistics += u"|I|CNTin1GO: ";
  statistics += Widen(std::to_string(largest_batch_));
  statistics += u" ";
  statistics += ShortDateTime(largest_batch_time_);
  file_->WriteLine(statistics);
  event_.reset();
  file_->Close();
}

bool LogWriterThread::Drain(bool blocking, bool* more) {
  batch_.clear();
  if (more != nullptr) *more = false;
  if (!queue_.Take(blocking, &batch_, more)) return false;
  if (batch_.empty()) return true;
  for (const std::u16string& line : batch_) {
    if (!line.empty()) file_->WriteLine(line);
  }
  file_->WriteHeader();
  if (batch_.size() > largest_batch_) {
    largest_batch_ = static_cast<uint32_t>(batch_.size());
    largest_batch_time_ = system_.LocalTime();
  }
  batch_.clear();
  return true;
}

// The event cannot be waited for: say so in the file (a limited number of
// times), try to open it again, and otherwise poll.
void LogWriterThread::Diagnose(uint32_t wait_error, uint32_t reset_error) {
  if (event_attempts_ >= kMaxEventAttempts) {
    event_.reset();
    return;
  }
  const uint64_t handle = event_ ? event_->HandleValue() : 0;
  WriteDiagnostic(u"dwRW : " + Widen(std::to_string(handle)) + u" " +
                  system_.AnsiToUtf16(error_text_(wait_error)));
  WriteDiagnostic(u"dwRST: " + system_.AnsiToUtf16(error_text_(reset_error)));
  if (!event_) {
    uint32_t error = 0;
    event_ = system_.OpenEvent(event_name_, &error);
    const uint64_t reopened = event_ ? event_->HandleValue() : 0;
    WriteDiagnostic(u"dwRW2: " + Widen(std::to_string(reopened)) + u" " +
                    system_.AnsiToUtf16(error_text_(error)));
  }
  file_->WriteHeader();
  ++event_attempts_;
  Pause(kWaitMilliseconds);
}

void LogWriterThread::WriteDiagnostic(std::u16string_view text) {
  std::u16string line = u"E|" + TimeOfDay(system_.LocalTime()) + u"|";
  line += text;
  file_->WriteLine(line);
}

}  // namespace quillmarsh::log
