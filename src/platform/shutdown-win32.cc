#include "platform/shutdown-win32.h"

namespace quillmarsh::platform {

static_assert(SHUTDOWN_FORCE_OTHERS == kShutdownForceOthers);
static_assert(SHUTDOWN_FORCE_SELF == kShutdownForceSelf);
static_assert(SHUTDOWN_RESTART == kShutdownRestart);
static_assert(SHUTDOWN_POWEROFF == kShutdownPowerOff);
static_assert(ERROR_SHUTDOWN_IN_PROGRESS == kErrorShutdownInProgress);
static_assert(ERROR_NO_SHUTDOWN_IN_PROGRESS == kErrorNoShutdownInProgress);

bool WindowsShutdown::ExitWindowsEx(uint32_t flags, uint32_t reason) {
  ExitWindowsExFunction function = exit_windows_.get();
  if (function == nullptr) return Missing(exit_windows_);
  return function(flags, reason) != FALSE;
}

uint32_t WindowsShutdown::InitiateShutdownA(const char* machine, const char* message,
                                            uint32_t grace_period, uint32_t flags,
                                            uint32_t reason) {
  InitiateShutdownAFunction function = initiate_shutdown_.get();
  if (function == nullptr) return initiate_shutdown_.error();
  return function(const_cast<char*>(machine), const_cast<char*>(message), grace_period, flags,
                  reason);
}

uint32_t WindowsShutdown::InitiateShutdownW(const char16_t* machine, const char16_t* message,
                                            uint32_t grace_period, uint32_t flags,
                                            uint32_t reason) {
  InitiateShutdownWFunction function = initiate_shutdown_w_.get();
  if (function == nullptr) return initiate_shutdown_w_.error();
  return function(WideText(machine), WideText(message), grace_period, flags, reason);
}

bool WindowsShutdown::AbortSystemShutdownW(const char16_t* machine) {
  AbortSystemShutdownWFunction function = abort_system_shutdown_.get();
  if (function == nullptr) return Missing(abort_system_shutdown_);
  return function(WideText(machine)) != FALSE;
}

}  // namespace quillmarsh::platform
