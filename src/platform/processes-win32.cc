#include "platform/processes-win32.h"

#include <cstddef>
#include <type_traits>

// These need <windows.h> first.
#include <wtsapi32.h>
#undef FormatMessage

namespace quillmarsh::platform {
namespace {

// WTS_PROCESS_INFO_EXW and the Ex functions as the Windows SDK declares
// them; mingw-w64's <wtsapi32.h> lacks them.
struct WindowsProcessInfoExW {
  DWORD SessionId;
  DWORD ProcessId;
  LPWSTR pProcessName;
  PSID pUserSid;
  DWORD NumberOfThreads;
  DWORD HandleCount;
  DWORD PagefileUsage;
  DWORD PeakPagefileUsage;
  DWORD WorkingSetSize;
  DWORD PeakWorkingSetSize;
  LARGE_INTEGER UserTime;
  LARGE_INTEGER KernelTime;
};
constexpr DWORD kWtsAnySession = static_cast<DWORD>(-2);
// The level-0 record is WTS_PROCESS_INFOW, which the level-1 one begins with.
static_assert(offsetof(WindowsProcessInfoExW, pUserSid) == offsetof(WTS_PROCESS_INFOW, pUserSid));
static_assert(offsetof(WindowsProcessInfoExW, pProcessName) ==
              offsetof(WTS_PROCESS_INFOW, pProcessName));
static_assert(sizeof(WtsProcessInfoEx) == sizeof(WindowsProcessInfoExW));
static_assert(offsetof(WtsProcessInfoEx, SessionId) == offsetof(WindowsProcessInfoExW, SessionId));
static_assert(offsetof(WtsProcessInfoEx, ProcessId) == offsetof(WindowsProcessInfoExW, ProcessId));
static_assert(offsetof(WtsProcessInfoEx, pProcessName) ==
              offsetof(WindowsProcessInfoExW, pProcessName));
static_assert(offsetof(WtsProcessInfoEx, pUserSid) == offsetof(WindowsProcessInfoExW, pUserSid));
static_assert(offsetof(WtsProcessInfoEx, NumberOfThreads) ==
              offsetof(WindowsProcessInfoExW, NumberOfThreads));
static_assert(offsetof(WtsProcessInfoEx, HandleCount) ==
              offsetof(WindowsProcessInfoExW, HandleCount));
static_assert(offsetof(WtsProcessInfoEx, PagefileUsage) ==
              offsetof(WindowsProcessInfoExW, PagefileUsage));
static_assert(offsetof(WtsProcessInfoEx, WorkingSetSize) ==
              offsetof(WindowsProcessInfoExW, WorkingSetSize));
static_assert(offsetof(WtsProcessInfoEx, PeakWorkingSetSize) ==
              offsetof(WindowsProcessInfoExW, PeakWorkingSetSize));
static_assert(offsetof(WtsProcessInfoEx, UserTime) == offsetof(WindowsProcessInfoExW, UserTime));
static_assert(offsetof(WtsProcessInfoEx, KernelTime) ==
              offsetof(WindowsProcessInfoExW, KernelTime));
static_assert(kWtsAnySession == kAnySession);
static_assert(
    std::is_same_v<decltype(&::WTSTerminateProcess), BOOL(WINAPI*)(HANDLE, DWORD, DWORD)>);

}  // namespace

bool WindowsProcesses::WTSEnumerateProcessesExW(uintptr_t server, uint32_t* level,
                                                uint32_t session_id, WtsProcessInfoEx** processes,
                                                uint32_t* count) {
  *processes = nullptr;
  *count = 0;
  WTSEnumerateProcessesExWFunction function = wts_enumerate_processes_.get();
  if (function == nullptr) return Missing(wts_enumerate_processes_);
  DWORD records_level = *level;
  LPWSTR records = nullptr;
  DWORD records_count = 0;
  const BOOL done =
      function(ServerHandle(server), &records_level, session_id, &records, &records_count);
  *level = records_level;
  *processes = reinterpret_cast<WtsProcessInfoEx*>(records);
  *count = records_count;
  return done != FALSE;
}

bool WindowsProcesses::WTSFreeMemoryExW(uint32_t type_class, void* memory, uint32_t count) {
  WTSFreeMemoryExWFunction function = wts_free_memory_ex_.get();
  if (function == nullptr) return Missing(wts_free_memory_ex_);
  return function(static_cast<int>(type_class), memory, count) != FALSE;
}

bool WindowsProcesses::WTSTerminateProcess(uintptr_t server, uint32_t process_id,
                                           uint32_t exit_code) {
  WTSTerminateProcessFunction function = wts_terminate_process_.get();
  if (function == nullptr) return Missing(wts_terminate_process_);
  return function(ServerHandle(server), process_id, exit_code) != FALSE;
}

std::optional<std::u16string> WindowsProcesses::LookupAccountOwner(const char16_t* system_name,
                                                                   void* sid) {
  // Account and domain names are at most 256 characters; a longer answer
  // is asked for again with the sizes the first call reported.
  std::wstring name(257, L'\0');
  std::wstring domain(257, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD domain_size = static_cast<DWORD>(domain.size());
    SID_NAME_USE use{};
    if (::LookupAccountSidW(WideText(system_name), sid, name.data(), &name_size, domain.data(),
                            &domain_size, &use)) {
      name.resize(name_size);
      domain.resize(domain_size);
      const std::wstring owner = domain + L"\\" + name;
      return std::u16string(owner.begin(), owner.end());
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    name.assign(name_size + 1, L'\0');
    domain.assign(domain_size + 1, L'\0');
  }
  return std::nullopt;
}

}  // namespace quillmarsh::platform
