// The boundary to the host operating system for everything that is not a
// terminal-server call: the console, the temporary-files directory, clocks,
// the log's file and named event, thread priority and code pages.
//
// Implementations: system-posix.cc (Linux) and system-win32.cc (Windows).
// Tests substitute their own where they need a fixed clock or captured
// console.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillmarsh::platform {

// A calendar time with milliseconds, as SYSTEMTIME holds it.
struct CalendarTime {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Milliseconds = 0;
};

// An open file; closed when released.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes at `offset`; returns the count read.
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
  virtual bool WriteAt(uint64_t offset, const void* data, size_t size) = 0;
  virtual bool Truncate(uint64_t size) = 0;
};

// A named manual-reset event.
class Event {
 public:
  enum class WaitResult { kSignalled, kTimeout, kFailed };
  virtual ~Event() = default;
  virtual bool Set() = 0;
  virtual bool Reset(uint32_t* error) = 0;
  virtual WaitResult Wait(uint32_t milliseconds, uint32_t* error) = 0;
  // A number that identifies the handle in diagnostics.
  virtual uint64_t HandleValue() const = 0;
};

// Held while the log is open; releasing it disarms the handler, waiting for
// a close that is in progress.
class EndOfSessionHandler {
 public:
  virtual ~EndOfSessionHandler() = default;
};

class System {
 public:
  enum class OpenMode {
    // An existing file, read and written by this process; other processes
    // may only read it while it is open.
    kExistingWriteShareRead,
    // The file, created when missing, with no sharing at all.
    kAlwaysExclusive,
  };

  virtual ~System() = default;

  // Standard output, as raw bytes; the caller supplies CR LF itself.
  virtual void WriteStdout(std::string_view bytes) = 0;
  virtual void FlushStdout() = 0;
  virtual void WriteStderr(std::string_view bytes) = 0;

  // GetTempPathA into a buffer of `size` bytes: the length written, 0 on
  // failure, or the needed size when the buffer is too small.
  virtual uint32_t GetTempPathA(uint32_t size, char* buffer) = 0;

  virtual CalendarTime LocalTime() = 0;
  virtual CalendarTime UtcTime() = 0;
  // A UTC time in this machine's time zone (milliseconds kept); false when
  // it cannot be converted.
  virtual bool LocalTimeOf(const CalendarTime& utc, CalendarTime* local) = 0;
  virtual uint32_t TickCount() = 0;
  virtual uint32_t CurrentProcessId() = 0;
  // The name of the account that runs the program.
  virtual std::string AccountName() = 0;
  // This machine's host name.
  virtual std::string HostName() = 0;
  virtual void SetCurrentThreadBelowNormalPriority() = 0;

  // Files of the log; `path` is UTF-16 in the platform's own form.
  virtual std::unique_ptr<File> OpenFile(const std::u16string& path, OpenMode mode) = 0;
  // The system's text and code for why the last file call on this thread
  // failed, as "text [code]".
  virtual std::string LastFileErrorText() = 0;
  // Creates every missing directory above the file `path`.
  virtual void CreateParentDirectories(const std::u16string& path) = 0;

  // A manual-reset event with the given name, not signalled, open to
  // everyone; null on failure with `error` set.
  virtual std::unique_ptr<Event> CreateEvent(const std::string& name, uint32_t* error) = 0;
  virtual std::unique_ptr<Event> OpenEvent(const std::string& name, uint32_t* error) = 0;

  // When the user or the system ends the program's session (Ctrl+C,
  // Ctrl+Break, the console closed, logoff, shutdown; SIGINT, SIGTERM and
  // SIGHUP on Linux), `session_ended` runs first, on the system's own
  // notification thread, so that nothing new starts from that moment; then
  // `close_log` runs on a thread of its own, at any point of the run, and is
  // waited for a few seconds at most; then the process ends as it would
  // have without the handler. Install it before any thread starts. Null
  // when it cannot be installed or one is installed already.
  virtual std::unique_ptr<EndOfSessionHandler> InstallEndOfSessionHandler(
      std::function<void()> session_ended, std::function<void()> close_log) = 0;

  // Code-page conversions: ANSI is the system's ANSI code page.
  virtual std::u16string AnsiToUtf16(std::string_view text) = 0;
  virtual std::string Utf16ToAnsi(std::u16string_view text) = 0;

  // Whether two names are equal without regard to letter case, as Windows
  // compares account names: each UTF-16 unit by the simple upper-case
  // mapping (CompareStringOrdinal with bIgnoreCase), not only A to Z.
  virtual bool EqualIgnoringCase(std::u16string_view first, std::u16string_view second) = 0;
};

std::unique_ptr<System> CreateSystem();

// Makes every library the process loads by name come from the system folder
// only, never from the program's folder or the current one: the program may
// run elevated from a folder that others can write to. Call first thing in
// main. Does nothing where the loader has no such search order.
void LoadLibrariesFromSystemFolderOnly();

// UTF-8 conversions shared by every implementation. Invalid input becomes
// U+FFFD; unpaired surrogates are encoded as they stand.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace quillmarsh::platform
