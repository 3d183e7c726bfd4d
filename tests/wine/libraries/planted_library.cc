// A library planted beside a program under the name of a system library.
// When it is loaded, it leaves an empty file named after itself
// ("wtsapi32.dll.loaded") in the folder that QUILLMARSH_PLANTED_MARKERS
// names. Its functions fail as a missing service would.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// These need <windows.h> first.
#include <lm.h>
#include <wtsapi32.h>

#include <string>

namespace {

void LeaveMarker(HINSTANCE instance) {
  wchar_t folder[MAX_PATH] = {};
  wchar_t module[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"QUILLMARSH_PLANTED_MARKERS", folder, MAX_PATH) == 0 ||
      ::GetModuleFileNameW(instance, module, MAX_PATH) == 0) {
    return;
  }
  std::wstring name(module);
  name.erase(0, name.find_last_of(L"\\/") + 1);
  const std::wstring marker = std::wstring(folder) + L"\\" + name + L".loaded";
  HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

WINBOOL NotImplemented() {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance);
  return TRUE;
}

WINBOOL WINAPI WTSEnumerateSessionsA(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOA*, DWORD*) {
  return NotImplemented();
}
WINBOOL WINAPI WTSQuerySessionInformationA(HANDLE, DWORD, WTS_INFO_CLASS, LPSTR*, DWORD*) {
  return NotImplemented();
}
VOID WINAPI WTSFreeMemory(PVOID) {}
WINBOOL WINAPI WTSSendMessageW(HANDLE, DWORD, LPWSTR, DWORD, LPWSTR, DWORD, DWORD, DWORD, DWORD*,
                               WINBOOL) {
  return NotImplemented();
}
WINBOOL WINAPI WTSDisconnectSession(HANDLE, DWORD, WINBOOL) { return NotImplemented(); }
WINBOOL WINAPI WTSLogoffSession(HANDLE, DWORD, WINBOOL) { return NotImplemented(); }

NET_API_STATUS WINAPI NetWkstaGetInfo(LMSTR, DWORD, LPBYTE*) { return ERROR_CALL_NOT_IMPLEMENTED; }
NET_API_STATUS WINAPI NetApiBufferFree(LPVOID) { return NERR_Success; }

}  // extern "C"
