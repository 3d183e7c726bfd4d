// wtsapi32.dll for tests: the Terminal Services functions that quillmarsh.exe
// calls, answered by the same simulated server that quillmarsh-sim.exe is
// built on, from the same QUILLMARSH_SERVER and QUILLMARSH_JOURNAL. The test
// installs it in the System32 folder of its own Wine prefix, so the real
// program, which loads wtsapi32 from there only, talks to the simulation
// while kernel32, advapi32 and user32 stay Wine's own.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/system.h"
#include "platform/terminal_server.h"

// After the interface: Windows' FormatMessage macro would rename its member.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// This needs <windows.h> first.
#include <wtsapi32.h>
#undef FormatMessage

namespace {

using quillmarsh::platform::TerminalServer;
using quillmarsh::platform::WtsProcessInfoEx;
using quillmarsh::platform::WtsSessionInfo;

// The server, made on the first call as quillmarsh-sim.exe makes it at its
// start. It lives until the library is unloaded at the end of the process;
// the server then journals the buffers never freed, as in quillmarsh-sim.exe.
class Simulation {
 public:
  Simulation() : system_(quillmarsh::platform::CreateSystem()) {
    std::string error;
    server_ = quillmarsh::platform::CreateTerminalServer(*system_, &error);
    if (!server_) system_->WriteStderr(error + "\n");
  }

  // Null when the server file could not be read: every call then fails.
  TerminalServer* server() { return server_.get(); }

 private:
  std::unique_ptr<quillmarsh::platform::System> system_;
  std::unique_ptr<TerminalServer> server_;
};

TerminalServer* Server() {
  static Simulation simulation;
  return simulation.server();
}

uintptr_t ServerNumber(HANDLE server) { return reinterpret_cast<uintptr_t>(server); }

// The call's result, with the server's error code as the thread's last error.
WINBOOL Result(TerminalServer& server, bool done) {
  if (!done) ::SetLastError(server.GetLastError());
  return done ? TRUE : FALSE;
}

WINBOOL Unusable() {
  ::SetLastError(ERROR_INVALID_DATA);
  return FALSE;
}

}  // namespace

extern "C" {

WINBOOL WINAPI WTSEnumerateSessionsA(HANDLE server, DWORD reserved, DWORD version,
                                     PWTS_SESSION_INFOA* sessions, DWORD* count) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  auto* records = reinterpret_cast<WtsSessionInfo*>(*sessions);
  uint32_t records_count = *count;
  const bool done = simulated->WTSEnumerateSessionsA(ServerNumber(server), reserved, version,
                                                     &records, &records_count);
  *sessions = reinterpret_cast<PWTS_SESSION_INFOA>(records);
  *count = records_count;
  return Result(*simulated, done);
}

WINBOOL WINAPI WTSQuerySessionInformationA(HANDLE server, DWORD session_id,
                                           WTS_INFO_CLASS info_class, LPSTR* buffer, DWORD* bytes) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  char* text = *buffer;
  uint32_t text_bytes = *bytes;
  const bool done = simulated->WTSQuerySessionInformationA(
      ServerNumber(server), session_id, static_cast<uint32_t>(info_class), &text, &text_bytes);
  *buffer = text;
  *bytes = text_bytes;
  return Result(*simulated, done);
}

WINBOOL WINAPI WTSQuerySessionInformationW(HANDLE server, DWORD session_id,
                                           WTS_INFO_CLASS info_class, LPWSTR* buffer,
                                           DWORD* bytes) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  auto* answer = reinterpret_cast<char16_t*>(*buffer);
  uint32_t answer_bytes = *bytes;
  const bool done = simulated->WTSQuerySessionInformationW(
      ServerNumber(server), session_id, static_cast<uint32_t>(info_class), &answer, &answer_bytes);
  *buffer = reinterpret_cast<LPWSTR>(answer);
  *bytes = answer_bytes;
  return Result(*simulated, done);
}

VOID WINAPI WTSFreeMemory(PVOID memory) {
  if (TerminalServer* simulated = Server()) simulated->WTSFreeMemory(memory);
}

WINBOOL WINAPI WTSSendMessageW(HANDLE server, DWORD session_id, LPWSTR title, DWORD title_bytes,
                               LPWSTR message, DWORD message_bytes, DWORD style, DWORD timeout,
                               DWORD* response, WINBOOL wait) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  uint32_t answer = response != nullptr ? *response : 0;
  const bool done = simulated->WTSSendMessageW(
      ServerNumber(server), session_id, reinterpret_cast<const char16_t*>(title), title_bytes,
      reinterpret_cast<const char16_t*>(message), message_bytes, style, timeout,
      response != nullptr ? &answer : nullptr, wait != FALSE);
  if (response != nullptr) *response = answer;
  return Result(*simulated, done);
}

WINBOOL WINAPI WTSDisconnectSession(HANDLE server, DWORD session_id, WINBOOL wait) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  return Result(*simulated,
                simulated->WTSDisconnectSession(ServerNumber(server), session_id, wait != FALSE));
}

WINBOOL WINAPI WTSLogoffSession(HANDLE server, DWORD session_id, WINBOOL wait) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  return Result(*simulated,
                simulated->WTSLogoffSession(ServerNumber(server), session_id, wait != FALSE));
}

HANDLE WINAPI WTSOpenServerA(LPSTR server_name) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) {
    Unusable();
    return nullptr;
  }
  const uintptr_t handle = simulated->WTSOpenServerA(server_name);
  if (handle == 0) ::SetLastError(simulated->GetLastError());
  return reinterpret_cast<HANDLE>(handle);
}

VOID WINAPI WTSCloseServer(HANDLE server) {
  if (TerminalServer* simulated = Server()) simulated->WTSCloseServer(ServerNumber(server));
}

// WTSGetActiveConsoleSessionId stays Wine's own (kernel32).
WINBOOL WINAPI WTSConnectSessionW(ULONG logon_id, ULONG target_logon_id, PWSTR password,
                                  WINBOOL wait) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  return Result(*simulated, simulated->WTSConnectSessionW(
                                logon_id, target_logon_id,
                                reinterpret_cast<const char16_t*>(password), wait != FALSE));
}

// The records carry the simulated owners' SIDs: quillmarsh.exe names them
// with Wine's own LookupAccountSidW, which knows the well-known accounts only.
WINBOOL WINAPI WTSEnumerateProcessesExW(HANDLE server, DWORD* level, DWORD session_id,
                                        LPWSTR* processes, DWORD* count) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  uint32_t records_level = *level;
  WtsProcessInfoEx* records = nullptr;
  uint32_t records_count = 0;
  const bool done = simulated->WTSEnumerateProcessesExW(ServerNumber(server), &records_level,
                                                        session_id, &records, &records_count);
  *level = records_level;
  *processes = reinterpret_cast<LPWSTR>(records);
  *count = records_count;
  return Result(*simulated, done);
}

WINBOOL WINAPI WTSFreeMemoryExW(int type_class, PVOID memory, ULONG count) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  return Result(*simulated,
                simulated->WTSFreeMemoryExW(static_cast<uint32_t>(type_class), memory, count));
}

WINBOOL WINAPI WTSTerminateProcess(HANDLE server, DWORD process_id, DWORD exit_code) {
  TerminalServer* simulated = Server();
  if (simulated == nullptr) return Unusable();
  return Result(*simulated,
                simulated->WTSTerminateProcess(ServerNumber(server), process_id, exit_code));
}

}  // extern "C"
