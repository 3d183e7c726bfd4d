// The host operating system for the Windows build.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/end_of_session.h"
#include "platform/system.h"

// After the interface: Windows' macros (CreateEvent, OpenEvent) would
// rename its members.
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#undef CreateEvent
#undef OpenEvent

#include "platform/system_library-win32.h"
#undef CreateEvent
#undef OpenEvent

// The program splits its own command line (ProgramArguments); the
// runtime's start-up must not look for files matching "*" or "?" for an
// argv that nobody reads.
extern "C" {
int _dowildcard = 0;
}

namespace quillmarsh::platform {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The text in the ANSI code page, as WideCharToMultiByte writes it by
// default: with best fit, "?" for what the code page cannot show.
std::string AnsiText(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string result(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, size, result.data(), length, nullptr, nullptr);
  return result;
}

// Owns a kernel handle; closes it when released.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool Seek(HANDLE file, uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  ::SetLastError(NO_ERROR);
  DWORD low = ::SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR);
}

class Win32File : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (!Seek(handle_.get(), offset)) return 0;
    size_t total = 0;
    while (total < size) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
      if (!::ReadFile(handle_.get(), static_cast<char*>(buffer) + total, want, &got, nullptr) ||
          got == 0) {
        break;
      }
      total += got;
    }
    return total;
  }

  bool WriteAt(uint64_t offset, const void* data, size_t size) override {
    if (!Seek(handle_.get(), offset)) return false;
    size_t total = 0;
    while (total < size) {
      DWORD put = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(size - total, 1u << 30));
      if (!::WriteFile(handle_.get(), static_cast<const char*>(data) + total, want, &put,
                       nullptr) ||
          put == 0) {
        return false;
      }
      total += put;
    }
    return true;
  }

  bool Truncate(uint64_t size) override {
    return Seek(handle_.get(), size) && ::SetEndOfFile(handle_.get());
  }

 private:
  OwnedHandle handle_;
};

class Win32Event : public Event {
 public:
  explicit Win32Event(HANDLE handle) : handle_(handle) {}

  bool Set() override { return ::SetEvent(handle_.get()) != FALSE; }

  bool Reset(uint32_t* error) override {
    const bool done = ::ResetEvent(handle_.get()) != FALSE;
    if (error) *error = done ? 0 : ::GetLastError();
    return done;
  }

  WaitResult Wait(uint32_t milliseconds, uint32_t* error) override {
    const DWORD result = ::WaitForSingleObject(handle_.get(), milliseconds);
    if (error) *error = result == WAIT_FAILED ? ::GetLastError() : 0;
    if (result == WAIT_OBJECT_0) return WaitResult::kSignalled;
    if (result == WAIT_TIMEOUT) return WaitResult::kTimeout;
    return WaitResult::kFailed;
  }

  uint64_t HandleValue() const override { return reinterpret_cast<uintptr_t>(handle_.get()); }

 private:
  OwnedHandle handle_;
};

CalendarTime FromSystemTime(const SYSTEMTIME& time) {
  CalendarTime result;
  result.Year = time.wYear;
  result.Month = time.wMonth;
  result.Day = time.wDay;
  result.Hour = time.wHour;
  result.Minute = time.wMinute;
  result.Second = time.wSecond;
  result.Milliseconds = time.wMilliseconds;
  return result;
}

// Where one stream of the console goes. The program's texts are in the
// ANSI code page. A console window is written in UTF-16 (WriteConsoleW), so
// the texts show right whatever code page the console has, and the
// console's code page is left alone: it would outlive the program in the
// window, also when a long "/SLEEP" is ended with Ctrl+C. Files and pipes
// get the ANSI bytes unchanged, CR LF as the program writes it.
class ConsoleStream {
 public:
  ConsoleStream(FILE* stream, DWORD standard_handle) : stream_(stream) {
    _setmode(_fileno(stream_), _O_BINARY);
    handle_ = ::GetStdHandle(standard_handle);
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE &&
               ::GetConsoleMode(handle_, &mode) != FALSE;
  }

  void Write(std::string_view bytes) {
    if (bytes.empty()) return;
    if (!console_) {
      std::fwrite(bytes.data(), 1, bytes.size(), stream_);
      std::fflush(stream_);
      return;
    }
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0) return;
    std::vector<wchar_t> text(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), length);
    size_t done = 0;
    while (done < text.size()) {
      DWORD written = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(text.size() - done, 8192));
      if (!::WriteConsoleW(handle_, text.data() + done, want, &written, nullptr) || written == 0) {
        break;
      }
      done += written;
    }
  }

  void Flush() { std::fflush(stream_); }

 private:
  FILE* stream_;
  HANDLE handle_ = nullptr;
  bool console_ = false;
};

// Runs on a thread that the system starts for the event. Returning FALSE
// hands the event on, in the end to the system's own handler, which ends
// the process as it would have without this one.
BOOL WINAPI EndOfSessionRoutine(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      EndOfSessionClose::Instance().RunWithin(EndOfSessionClose::kLimit);
      break;
    default:
      break;
  }
  return FALSE;
}

class Win32EndOfSessionHandler : public EndOfSessionHandler {
 public:
  ~Win32EndOfSessionHandler() override {
    ::SetConsoleCtrlHandler(EndOfSessionRoutine, FALSE);
    EndOfSessionClose::Instance().Disarm();
  }
};

class Win32System : public System {
 public:
  Win32System() : stdout_(stdout, STD_OUTPUT_HANDLE), stderr_(stderr, STD_ERROR_HANDLE) {}

  void WriteStdout(std::string_view bytes) override { stdout_.Write(bytes); }
  void FlushStdout() override { stdout_.Flush(); }
  void WriteStderr(std::string_view bytes) override { stderr_.Write(bytes); }

  uint32_t GetTempPathA(uint32_t size, char* buffer) override {
    return ::GetTempPathA(size, buffer);
  }

  CalendarTime LocalTime() override {
    SYSTEMTIME time{};
    ::GetLocalTime(&time);
    return FromSystemTime(time);
  }

  bool LocalTimeOf(const CalendarTime& utc, CalendarTime* local) override {
    SYSTEMTIME universal{};
    universal.wYear = utc.Year;
    universal.wMonth = utc.Month;
    universal.wDay = utc.Day;
    universal.wHour = utc.Hour;
    universal.wMinute = utc.Minute;
    universal.wSecond = utc.Second;
    universal.wMilliseconds = utc.Milliseconds;
    SYSTEMTIME converted{};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &converted)) return false;
    *local = FromSystemTime(converted);
    return true;
  }

  CalendarTime UtcTime() override {
    SYSTEMTIME time{};
    ::GetSystemTime(&time);
    return FromSystemTime(time);
  }

  uint32_t TickCount() override { return ::GetTickCount(); }
  uint32_t CurrentProcessId() override { return ::GetCurrentProcessId(); }

  std::string AccountName() override {
    char name[1024] = {};
    DWORD size = sizeof name;
    if (!::GetUserNameA(name, &size)) return {};
    return std::string(name, strnlen(name, sizeof name));
  }

  std::string HostName() override {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return {};
    return std::string(name, strnlen(name, sizeof name));
  }

  void SetCurrentThreadBelowNormalPriority() override {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  }

  std::unique_ptr<File> OpenFile(const std::u16string& path, OpenMode mode) override {
    const bool existing = mode == OpenMode::kExistingWriteShareRead;
    HANDLE handle = ::CreateFileW(
        Wide(path), GENERIC_READ | GENERIC_WRITE, existing ? FILE_SHARE_READ : 0, nullptr,
        existing ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(handle);
  }

  std::string LastFileErrorText() override {
    const DWORD error = ::GetLastError();
    char buffer[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, strnlen(buffer, std::min<size_t>(length, sizeof buffer)));
    while (!text.empty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
      text.pop_back();
    }
    return text + " [" + std::to_string(error) + "]";
  }

  void CreateParentDirectories(const std::u16string& path) override {
    const size_t root = RootLength(path);
    for (size_t i = root; i < path.size(); ++i) {
      if (i == root || (path[i] != u'\\' && path[i] != u'/')) continue;
      const std::u16string directory = path.substr(0, i);
      if (::GetFileAttributesW(Wide(directory)) == INVALID_FILE_ATTRIBUTES) {
        ::CreateDirectoryW(Wide(directory), nullptr);
      }
    }
  }

  std::unique_ptr<Event> CreateEvent(const std::string& name, uint32_t* error) override {
    // A null DACL: writers in every process and account share the event.
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = FALSE;
    if (::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
      attributes.lpSecurityDescriptor = &descriptor;
    }
    HANDLE handle = ::CreateEventA(&attributes, TRUE, FALSE, name.c_str());
    if (handle == nullptr) {
      if (error) *error = ::GetLastError();
      return nullptr;
    }
    if (error) *error = 0;
    return std::make_unique<Win32Event>(handle);
  }

  std::unique_ptr<Event> OpenEvent(const std::string& name, uint32_t* error) override {
    HANDLE handle = ::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    if (handle == nullptr) {
      if (error) *error = ::GetLastError();
      return nullptr;
    }
    if (error) *error = 0;
    return std::make_unique<Win32Event>(handle);
  }

  std::unique_ptr<EndOfSessionHandler> InstallEndOfSessionHandler(
      std::function<void()> session_ended, std::function<void()> close_log) override {
    if (!EndOfSessionClose::Instance().Arm(std::move(session_ended), std::move(close_log)))
      return nullptr;
    if (!::SetConsoleCtrlHandler(EndOfSessionRoutine, TRUE)) {
      EndOfSessionClose::Instance().Disarm();
      return nullptr;
    }
    return std::make_unique<Win32EndOfSessionHandler>();
  }

  std::u16string AnsiToUtf16(std::string_view text) override {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::u16string result(static_cast<size_t>(length), u'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(result.data()),
                          length);
    return result;
  }

  std::string Utf16ToAnsi(std::u16string_view text) override { return AnsiText(text); }

  bool EqualIgnoringCase(std::u16string_view first, std::u16string_view second) override {
    if (first.size() != second.size()) return false;
    if (first.empty()) return true;
    return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(first.data()),
                                  static_cast<int>(first.size()),
                                  reinterpret_cast<const wchar_t*>(second.data()),
                                  static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
  }

 private:
  // The part of a path that names no directory to create: "C:\",
  // "\\server\share\", "\\?\C:\" or "\\?\UNC\server\share\".
  static size_t RootLength(const std::u16string& path) {
    auto separator = [&path](size_t from, int count) {
      size_t i = from;
      for (; i < path.size() && count > 0; ++i) {
        if (path[i] == u'\\' || path[i] == u'/') --count;
      }
      return count == 0 ? i : path.size();
    };
    if (path.rfind(u"\\\\?\\UNC\\", 0) == 0) return separator(8, 2);
    if (path.rfind(u"\\\\?\\", 0) == 0) return separator(4, 1);
    if (path.rfind(u"\\\\", 0) == 0) return separator(2, 2);
    if (path.size() >= 2 && path[1] == u':') return path.size() > 2 ? 3 : 2;
    return path.empty() || (path[0] != u'\\' && path[0] != u'/') ? 0 : 1;
  }

  ConsoleStream stdout_;
  ConsoleStream stderr_;
};

}  // namespace

// The runtime's argv follows other quoting rules (a backslash before a
// quote makes a literal quote); the program reads its own line instead.
ArgumentList ProgramArguments(int, char**) {
  // The UTF-16 line: GetCommandLineA would give the legacy code page's
  // form, in which "Иван" and "Олег" both read "????" and a best-fit
  // character may even become a quote. Each argument is converted once it
  // is split.
  ArgumentList arguments;
  arguments.wide =
      SplitCommandLine(std::u16string_view(reinterpret_cast<const char16_t*>(::GetCommandLineW())));
  // A starter may pass an empty line: the program name is then empty.
  if (arguments.wide.empty()) arguments.wide.emplace_back();
  for (const std::u16string& argument : arguments.wide) {
    arguments.ansi.push_back(AnsiText(argument));
  }
  return arguments;
}

std::unique_ptr<System> CreateSystem() { return std::make_unique<Win32System>(); }

namespace {

// Looked up, not imported: Windows without the function (Vista, and 7
// without its loader update) would refuse to start the program.
FARPROC SetDefaultDllDirectoriesAddress() {
  return ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
}

}  // namespace

bool SystemKnowsSearchFlags() { return SetDefaultDllDirectoriesAddress() != nullptr; }

HMODULE LoadSystemLibrary(const wchar_t* name, bool search_flags) {
  if (search_flags) return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  if (path.back() != L'\\') path += L'\\';
  path += name;
  // The library's own dependencies are then looked up in its folder first.
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void LoadLibrariesFromSystemFolderOnly() {
  const FARPROC address = SetDefaultDllDirectoriesAddress();
  if (address == nullptr) return;
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  // Through void (*)(), which converts to every function pointer type.
  reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(address))(
      LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace quillmarsh::platform
