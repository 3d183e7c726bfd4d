#include "log/log_writer.h"

#include <atomic>

#include "log/log_file.h"
#include "log/log_format.h"
#include "log/log_lock.h"
#include "log/log_text.h"
#include "log/log_time.h"
#include "log/md5.h"

namespace quillmarsh::log {

std::string LogEventName(platform::System& system, std::u16string_view file_name) {
  // Appended rather than "G" + text: GCC 12 at -O3 (the Windows build) warns
  // falsely about overlapping copies in operator+(const char*, string&&).
  std::string name = "G";
  name += Md5Hex(system.Utf16ToAnsi(NormaliseLogName(file_name)));
  return name;
}

class LogWriter::Impl {
 public:
  static constexpr int kMaxEventRetries = 10;
  // The producer waits for the thread while this few slots are free.
  static constexpr uint32_t kLowWater = 2;
  static constexpr auto kSpaceWait = std::chrono::milliseconds(50);

  Impl(platform::System& system, ErrorTextFunction error_text, const Options& options)
      : system_(system), formatter_([this](std::u16string line) { Emit(std::move(line)); }) {
    if (!options.direct) {
      event_name_ = LogEventName(system_, options.file_name);
      uint32_t error = 0;
      event_ = system_.CreateEvent(event_name_, &error);
    }
    auto file = std::make_unique<LogFile>(system_, options.file_name, options.max_size_kb,
                                          options.own_session_id);
    opened_ = file->Opened();
    if (!opened_) open_failure_ = platform::Utf16ToUtf8(file->Name()) + ": " + file->OpenError();
    if (options.direct) {
      direct_file_ = std::move(file);
      return;
    }
    // A writer whose file is not open has nothing to write: no thread.
    if (opened_) {
      thread_ = std::make_unique<LogWriterThread>(system_, std::move(error_text), std::move(file),
                                                  event_name_);
    }
  }

  bool Opened() const { return opened_; }
  const std::string& OpenFailure() const { return open_failure_; }

  std::u16string Message(LogKind kind, std::string_view text) {
    // A message that comes while another thread closes the log is dropped
    // whole, and it leaves the lock to the close.
    if (text.empty() || closing_) return {};
    std::lock_guard lock(message_lock_);
    TimeStampBuffer stamp;
    return formatter_.Message(kind, Widened(text), FormatTimeStamp(system_.LocalTime(), stamp));
  }

  std::u16string Message(LogKind kind, std::u16string_view text) {
    if (text.empty() || closing_) return {};
    std::lock_guard lock(message_lock_);
    TimeStampBuffer stamp;
    return formatter_.Message(kind, text, FormatTimeStamp(system_.LocalTime(), stamp));
  }

  // The text in UTF-16, in a buffer kept between messages. ASCII is the
  // same in every ANSI code page and needs no conversion call.
  std::u16string_view Widened(std::string_view text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) return wide_ = system_.AnsiToUtf16(text);
    wide_.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) wide_[i] = static_cast<char16_t>(text[i]);
    return wide_;
  }

  // Also from another thread while a message is under way: the close
  // waits for that message and acts once.
  void Close() {
    closing_ = true;
    std::lock_guard lock(message_lock_);
    formatter_.FlushSummaries();
    if (opened_) {
      Emit(TimeStamp(system_.LocalTime()) + u"|I|Wait(mSec): " +
           Widen(std::to_string(wait_total_)));
      if (thread_) {
        thread_->RequestStop();
        if (event_) event_->Set();
        thread_->Join();
        thread_.reset();
      }
      if (direct_file_) direct_file_->Close();
      event_.reset();
    }
    opened_ = false;
  }

 private:
  void Emit(std::u16string line) {
    if (!opened_) return;
    if (direct_file_) {
      direct_file_->WriteLine(line);
      direct_file_->WriteHeader();
      return;
    }
    LogQueue& queue = thread_->Queue();
    const LogQueue::Pushed pushed = queue.Push(std::move(line));
    uint32_t free_slots = pushed.free_slots;
    // One signal per idle period is enough: a busy thread finds the later
    // lines when it publishes its batch. Without an event, every line
    // retries its creation.
    if (pushed.was_empty || !event_) Signal();
    if (free_slots > kLowWater) return;
    // Nearly full: wait for the thread as long as it takes; a line is never
    // dropped or written over.
    const uint32_t start = system_.TickCount();
    while (free_slots <= kLowWater) {
      free_slots = queue.WaitForSpace(kSpaceWait);
      Signal();
    }
    wait_total_ += system_.TickCount() - start;
  }

  void Signal() {
    if (!event_ && event_retries_ < kMaxEventRetries) {
      ++event_retries_;
      uint32_t error = 0;
      event_ = system_.CreateEvent(event_name_, &error);
    }
    if (event_) event_->Set();
  }

  platform::System& system_;
  bool opened_ = false;
  std::string open_failure_;
  std::atomic<bool> closing_ = false;
  LogLock message_lock_;
  LogFormatter formatter_;
  std::string event_name_;
  std::unique_ptr<platform::Event> event_;
  int event_retries_ = 0;
  uint64_t wait_total_ = 0;
  std::unique_ptr<LogWriterThread> thread_;
  std::unique_ptr<LogFile> direct_file_;
  std::u16string wide_;
};

LogWriter::LogWriter(platform::System& system, ErrorTextFunction error_text, Options options)
    : impl_(std::make_unique<Impl>(system, std::move(error_text), options)) {}

LogWriter::~LogWriter() {
  if (impl_) impl_->Close();
}

bool LogWriter::Opened() const { return impl_ && impl_->Opened(); }

std::string LogWriter::OpenFailure() const { return impl_ ? impl_->OpenFailure() : std::string(); }

std::u16string LogWriter::Info(std::string_view text) {
  return impl_->Message(LogKind::kInformation, text);
}

std::u16string LogWriter::Error(std::string_view text) {
  return impl_->Message(LogKind::kError, text);
}

std::u16string LogWriter::Info(std::u16string_view text) {
  return impl_->Message(LogKind::kInformation, text);
}

std::u16string LogWriter::Error(std::u16string_view text) {
  return impl_->Message(LogKind::kError, text);
}

void LogWriter::Close() { impl_->Close(); }

}  // namespace quillmarsh::log
