// The processes of a terminal server's sessions: WTSEnumerateProcessesExW
// with its WTS_PROCESS_INFO_EXW records, WTSFreeMemoryExW, WTSTerminateProcess
// (wtsapi32, bound at run time) and the owner of a process's SID.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/late_binding-win32.h"

namespace quillmarsh::platform {

class WindowsProcesses {
 public:
  explicit WindowsProcesses(const Library& wtsapi32) : wtsapi32_(wtsapi32) {}

  bool WTSEnumerateProcessesExW(uintptr_t server, uint32_t* level, uint32_t session_id,
                                WtsProcessInfoEx** processes, uint32_t* count);
  bool WTSFreeMemoryExW(uint32_t type_class, void* memory, uint32_t count);
  bool WTSTerminateProcess(uintptr_t server, uint32_t process_id, uint32_t exit_code);
  std::optional<std::u16string> LookupAccountOwner(const char16_t* system_name, void* sid);

 private:
  using WTSEnumerateProcessesExWFunction = BOOL(WINAPI*)(HANDLE server, DWORD* level,
                                                         DWORD session_id, LPWSTR* processes,
                                                         DWORD* count);
  // The first argument is the enumeration WTS_TYPE_CLASS.
  using WTSFreeMemoryExWFunction = BOOL(WINAPI*)(int type_class, PVOID memory, ULONG count);
  using WTSTerminateProcessFunction = BOOL(WINAPI*)(HANDLE server, DWORD process_id,
                                                    DWORD exit_code);

  const Library& wtsapi32_;
  LateBound<WTSEnumerateProcessesExWFunction> wts_enumerate_processes_{wtsapi32_,
                                                                       "WTSEnumerateProcessesExW"};
  LateBound<WTSFreeMemoryExWFunction> wts_free_memory_ex_{wtsapi32_, "WTSFreeMemoryExW"};
  LateBound<WTSTerminateProcessFunction> wts_terminate_process_{wtsapi32_, "WTSTerminateProcess"};
};

}  // namespace quillmarsh::platform
