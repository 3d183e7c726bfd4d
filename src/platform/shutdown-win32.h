// Restarting and powering off: ExitWindowsEx here (user32, loaded on its
// first use, since loading it sets up the window system for the process),
// InitiateShutdownA/W and AbortSystemShutdownW (advapi32) for the
// countdowns and for other machines.
#pragma once

#include <cstdint>

#include "platform/late_binding-win32.h"

namespace quillmarsh::platform {

class WindowsShutdown {
 public:
  explicit WindowsShutdown(const Library& advapi32) : advapi32_(advapi32) {}

  bool ExitWindowsEx(uint32_t flags, uint32_t reason);
  uint32_t InitiateShutdownA(const char* machine, const char* message, uint32_t grace_period,
                             uint32_t flags, uint32_t reason);
  uint32_t InitiateShutdownW(const char16_t* machine, const char16_t* message,
                             uint32_t grace_period, uint32_t flags, uint32_t reason);
  bool AbortSystemShutdownW(const char16_t* machine);

 private:
  using ExitWindowsExFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);
  using InitiateShutdownAFunction = DWORD(WINAPI*)(LPSTR machine, LPSTR message, DWORD grace_period,
                                                   DWORD flags, DWORD reason);
  using InitiateShutdownWFunction = DWORD(WINAPI*)(LPWSTR machine, LPWSTR message,
                                                   DWORD grace_period, DWORD flags, DWORD reason);
  using AbortSystemShutdownWFunction = BOOL(WINAPI*)(LPWSTR machine);

  const Library& advapi32_;
  Library user32_{L"user32.dll"};
  LateBound<ExitWindowsExFunction> exit_windows_{user32_, "ExitWindowsEx"};
  LateBound<InitiateShutdownAFunction> initiate_shutdown_{advapi32_, "InitiateShutdownA"};
  LateBound<InitiateShutdownWFunction> initiate_shutdown_w_{advapi32_, "InitiateShutdownW"};
  LateBound<AbortSystemShutdownWFunction> abort_system_shutdown_{advapi32_, "AbortSystemShutdownW"};
};

}  // namespace quillmarsh::platform
