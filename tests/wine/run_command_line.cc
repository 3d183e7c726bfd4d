// Starts one command line exactly as it is written and exits with its exit
// code. `wine program args...` would join the arguments by the C runtime's
// quoting rules; the end-to-end runner hands the line it built here
// instead, in QUILLMARSH_COMMAND_LINE as hexadecimal UTF-8, so that no
// locale setting of the Unix side can change a byte of it.
//
// A start that fails here exits with 254 and one line on standard error
// that starts with "run_command_line: ", so that the runner can tell it
// (the program never ran) from a program that failed. An exit code that
// cannot be read after the program ran is 253.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int main() {
  char hex[65536];
  const DWORD length = ::GetEnvironmentVariableA("QUILLMARSH_COMMAND_LINE", hex, sizeof hex);
  if (length == 0 || length >= sizeof hex || length % 2 != 0) {
    std::fputs("run_command_line: QUILLMARSH_COMMAND_LINE is missing or too long\n", stderr);
    return 254;
  }
  std::string utf8;
  for (DWORD i = 0; i < length; i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) {
      std::fputs("run_command_line: QUILLMARSH_COMMAND_LINE is not hexadecimal\n", stderr);
      return 254;
    }
    utf8 += static_cast<char>(high * 16 + low);
  }
  const int size = static_cast<int>(utf8.size());
  std::wstring line(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, line.data(), static_cast<int>(line.size()));
  ::SetEnvironmentVariableA("QUILLMARSH_COMMAND_LINE", nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
    std::fprintf(stderr, "run_command_line: CreateProcessW failed with %lu\n", ::GetLastError());
    return 254;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 253;
  if (!::GetExitCodeProcess(process.hProcess, &code)) {
    std::fprintf(stderr, "run_command_line: GetExitCodeProcess failed with %lu\n",
                 ::GetLastError());
    code = 253;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
