// The host operating system for the Linux build.
#include <fcntl.h>
#include <locale.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/end_of_session.h"
#include "platform/file_time.h"
#include "platform/system.h"

namespace quillmarsh::platform {
namespace {

class PosixFile : public File {
 public:
  explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixFile() override { ::close(descriptor_); }

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    size_t total = 0;
    while (total < size) {
      ssize_t got = ::pread(descriptor_, static_cast<char*>(buffer) + total, size - total,
                            static_cast<off_t>(offset + total));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      total += static_cast<size_t>(got);
    }
    return total;
  }

  bool WriteAt(uint64_t offset, const void* data, size_t size) override {
    size_t total = 0;
    while (total < size) {
      ssize_t put = ::pwrite(descriptor_, static_cast<const char*>(data) + total, size - total,
                             static_cast<off_t>(offset + total));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      total += static_cast<size_t>(put);
    }
    return true;
  }

  bool Truncate(uint64_t size) override {
    return ::ftruncate(descriptor_, static_cast<off_t>(size)) == 0;
  }

 private:
  int descriptor_;
};

// Events live in this process only: on Linux the log file admits one writer
// at a time, so no other process waits on the same name.
struct EventState {
  std::mutex mutex;
  std::condition_variable signalled;
  bool set = false;
};

std::mutex g_events_mutex;
std::map<std::string, std::weak_ptr<EventState>> g_events;

class PosixEvent : public Event {
 public:
  PosixEvent(std::shared_ptr<EventState> state, uint64_t handle)
      : state_(std::move(state)), handle_(handle) {}

  bool Set() override {
    {
      std::lock_guard lock(state_->mutex);
      // Already set: every waiter has been woken.
      if (state_->set) return true;
      state_->set = true;
    }
    state_->signalled.notify_all();
    return true;
  }

  bool Reset(uint32_t* error) override {
    std::lock_guard lock(state_->mutex);
    state_->set = false;
    if (error) *error = 0;
    return true;
  }

  WaitResult Wait(uint32_t milliseconds, uint32_t* error) override {
    if (error) *error = 0;
    std::unique_lock lock(state_->mutex);
    bool set = state_->signalled.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                          [this] { return state_->set; });
    return set ? WaitResult::kSignalled : WaitResult::kTimeout;
  }

  uint64_t HandleValue() const override { return handle_; }

 private:
  std::shared_ptr<EventState> state_;
  uint64_t handle_;
};

uint64_t NextEventHandle() {
  static uint64_t next = 100;
  return next += 4;
}

// Waits for the first signal that ends the session, runs the armed close,
// then ends the process with that signal, as if it had arrived unwatched.
[[noreturn]] void WatchEndOfSessionSignals(sigset_t signals) {
  int number = 0;
  while (sigwait(&signals, &number) != 0) {
  }
  EndOfSessionClose::Instance().RunWithin(EndOfSessionClose::kLimit);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, number);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(number);
  _exit(128 + number);
}

// SIGINT, SIGTERM and SIGHUP are blocked in the calling thread, and so in
// every thread it starts later, and one thread waits for them. A signal
// that the process was told to ignore stays ignored. Once per process.
bool StartEndOfSessionWatcher() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    sigset_t signals;
    sigemptyset(&signals);
    int watched = 0;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current {};
      if (sigaction(number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
        sigaddset(&signals, number);
        ++watched;
      }
    }
    started = true;
    if (watched == 0) return;
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
      std::thread([signals] { WatchEndOfSessionSignals(signals); }).detach();
    } catch (...) {
      pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
      started = false;
    }
  });
  return started;
}

class PosixEndOfSessionHandler : public EndOfSessionHandler {
 public:
  ~PosixEndOfSessionHandler() override { EndOfSessionClose::Instance().Disarm(); }
};

CalendarTime FromTimespec(const timespec& now, bool local) {
  // Most calls fall in the same second as the one before: the calendar
  // parts of that second are kept, per thread.
  struct Cached {
    time_t second = -1;
    struct tm parts {};
  };
  thread_local Cached cached_local;
  thread_local Cached cached_utc;
  Cached& cached = local ? cached_local : cached_utc;
  if (cached.second != now.tv_sec) {
    if (local) {
      localtime_r(&now.tv_sec, &cached.parts);
    } else {
      gmtime_r(&now.tv_sec, &cached.parts);
    }
    cached.second = now.tv_sec;
  }
  const struct tm& parts = cached.parts;
  CalendarTime time;
  time.Year = static_cast<uint16_t>(parts.tm_year + 1900);
  time.Month = static_cast<uint16_t>(parts.tm_mon + 1);
  time.Day = static_cast<uint16_t>(parts.tm_mday);
  time.Hour = static_cast<uint16_t>(parts.tm_hour);
  time.Minute = static_cast<uint16_t>(parts.tm_min);
  time.Second = static_cast<uint16_t>(parts.tm_sec);
  time.Milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
  return time;
}

// The simple upper-case mapping of one UTF-16 unit, from the C library's
// Unicode tables (the C.UTF-8 locale, which glibc always has); surrogates
// and, without that locale, everything but a to z stay as they are.
char16_t UpperUnit(char16_t unit) {
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - u'a' + u'A');
  if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF) || unicode == static_cast<locale_t>(0)) {
    return unit;
  }
  const wint_t upper = towupper_l(static_cast<wint_t>(unit), unicode);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

class PosixSystem : public System {
 public:
  void WriteStdout(std::string_view bytes) override {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
  void FlushStdout() override { std::fflush(stdout); }
  void WriteStderr(std::string_view bytes) override {
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
  }

  // $TMPDIR with "/" appended, when it is set, non-empty and shorter than
  // 1024 bytes; otherwise "/tmp/".
  uint32_t GetTempPathA(uint32_t size, char* buffer) override {
    std::string directory = "/tmp/";
    const char* variable = std::getenv("TMPDIR");
    if (variable != nullptr && *variable != '\0' && std::strlen(variable) < 1024) {
      directory = variable;
      if (directory.back() != '/') directory += '/';
    }
    if (directory.size() + 1 > size) return static_cast<uint32_t>(directory.size() + 1);
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<uint32_t>(directory.size());
  }

  CalendarTime LocalTime() override { return FromTimespec(Now(), true); }

  bool LocalTimeOf(const CalendarTime& utc, CalendarTime* local) override {
    const time_t seconds = static_cast<time_t>(UnixSecondsFromCalendar(utc));
    struct tm parts {};
    if (localtime_r(&seconds, &parts) == nullptr) return false;
    local->Year = static_cast<uint16_t>(parts.tm_year + 1900);
    local->Month = static_cast<uint16_t>(parts.tm_mon + 1);
    local->Day = static_cast<uint16_t>(parts.tm_mday);
    local->Hour = static_cast<uint16_t>(parts.tm_hour);
    local->Minute = static_cast<uint16_t>(parts.tm_min);
    local->Second = static_cast<uint16_t>(parts.tm_sec);
    local->Milliseconds = utc.Milliseconds;
    return true;
  }
  CalendarTime UtcTime() override { return FromTimespec(Now(), false); }

  uint32_t TickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000);
  }

  uint32_t CurrentProcessId() override { return static_cast<uint32_t>(::getpid()); }

  std::string AccountName() override {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
      return found->pw_name;
    }
    return std::to_string(::geteuid());
  }

  std::string HostName() override {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
  }

  void SetCurrentThreadBelowNormalPriority() override {
    // A thread's nice value is its own on Linux.
    setpriority(PRIO_PROCESS, 0, getpriority(PRIO_PROCESS, 0) + 1);
  }

  // The temporary-files directory is shared by every account: only a
  // regular file of this account with no other name is opened, never
  // through a symbolic link, and only when no other writer holds it.
  std::unique_ptr<File> OpenFile(const std::u16string& path, OpenMode mode) override {
    const std::string name = Utf16ToUtf8(path);
    int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    if (mode == OpenMode::kAlwaysExclusive) flags |= O_CREAT;
    int descriptor = ::open(name.c_str(), flags, 0600);
    if (descriptor < 0) return nullptr;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || status.st_nlink != 1 ||
        ::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      ::close(descriptor);
      return nullptr;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixFile>(descriptor);
  }

  std::string LastFileErrorText() override {
    const int error = errno;
    return std::string(std::strerror(error)) + " [" + std::to_string(error) + "]";
  }

  void CreateParentDirectories(const std::u16string& path) override {
    const std::string name = Utf16ToUtf8(path);
    for (size_t slash = name.find('/', 1); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
      ::mkdir(name.substr(0, slash).c_str(), 0700);
    }
  }

  std::unique_ptr<Event> CreateEvent(const std::string& name, uint32_t* error) override {
    std::lock_guard lock(g_events_mutex);
    std::shared_ptr<EventState> state = g_events[name].lock();
    if (!state) {
      state = std::make_shared<EventState>();
      g_events[name] = state;
    }
    if (error) *error = 0;
    return std::make_unique<PosixEvent>(state, NextEventHandle());
  }

  std::unique_ptr<Event> OpenEvent(const std::string& name, uint32_t* error) override {
    std::lock_guard lock(g_events_mutex);
    auto found = g_events.find(name);
    std::shared_ptr<EventState> state;
    if (found != g_events.end()) state = found->second.lock();
    if (!state) {
      if (error) *error = 2;  // not found
      return nullptr;
    }
    if (error) *error = 0;
    return std::make_unique<PosixEvent>(state, NextEventHandle());
  }

  std::unique_ptr<EndOfSessionHandler> InstallEndOfSessionHandler(
      std::function<void()> session_ended, std::function<void()> close_log) override {
    if (!StartEndOfSessionWatcher() ||
        !EndOfSessionClose::Instance().Arm(std::move(session_ended), std::move(close_log))) {
      return nullptr;
    }
    return std::make_unique<PosixEndOfSessionHandler>();
  }

  // The ANSI code page of the Linux build is UTF-8.
  std::u16string AnsiToUtf16(std::string_view text) override { return Utf8ToUtf16(text); }
  std::string Utf16ToAnsi(std::u16string_view text) override { return Utf16ToUtf8(text); }

  bool EqualIgnoringCase(std::u16string_view first, std::u16string_view second) override {
    if (first.size() != second.size()) return false;
    for (size_t i = 0; i < first.size(); ++i) {
      if (UpperUnit(first[i]) != UpperUnit(second[i])) return false;
    }
    return true;
  }

 private:
  static timespec Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
  }
};

}  // namespace

// The shell has split the line already; the ANSI code page is UTF-8.
ArgumentList ProgramArguments(int argc, char** argv) {
  ArgumentList arguments;
  arguments.ansi.assign(argv, argv + argc);
  for (const std::string& argument : arguments.ansi) {
    arguments.wide.push_back(Utf8ToUtf16(argument));
  }
  return arguments;
}

std::unique_ptr<System> CreateSystem() { return std::make_unique<PosixSystem>(); }

// The dynamic linker looks only where the system's configuration says.
void LoadLibrariesFromSystemFolderOnly() {}

}  // namespace quillmarsh::platform
