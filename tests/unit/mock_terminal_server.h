// A GoogleMock stand-in for the terminal-server boundary, for tests that
// assert the exact platform calls a piece of code makes.
#pragma once

#include <gmock/gmock.h>

#include "platform/terminal_server.h"

namespace quillmarsh::test {

class MockTerminalServer : public platform::TerminalServer {
 public:
  MOCK_METHOD(uint32_t, GetLastError, (), (override));
  MOCK_METHOD(std::string, FormatMessage, (uint32_t code), (override));

  MOCK_METHOD(bool, WTSEnumerateSessionsA,
              (uintptr_t server, uint32_t reserved, uint32_t version,
               platform::WtsSessionInfo** sessions, uint32_t* count),
              (override));
  MOCK_METHOD(bool, WTSQuerySessionInformationA,
              (uintptr_t server, uint32_t session_id, uint32_t info_class, char** buffer,
               uint32_t* bytes),
              (override));
  MOCK_METHOD(bool, WTSQuerySessionInformationW,
              (uintptr_t server, uint32_t session_id, uint32_t info_class, char16_t** buffer,
               uint32_t* bytes),
              (override));
  MOCK_METHOD(void, WTSFreeMemory, (void* memory), (override));
  MOCK_METHOD(bool, WTSSendMessageW,
              (uintptr_t server, uint32_t session_id, const char16_t* title, uint32_t title_bytes,
               const char16_t* message, uint32_t message_bytes, uint32_t style, uint32_t timeout,
               uint32_t* response, bool wait),
              (override));
  MOCK_METHOD(bool, WTSDisconnectSession, (uintptr_t server, uint32_t session_id, bool wait),
              (override));
  MOCK_METHOD(bool, WTSLogoffSession, (uintptr_t server, uint32_t session_id, bool wait),
              (override));

  MOCK_METHOD(uintptr_t, WTSOpenServerA, (const char* server_name), (override));
  MOCK_METHOD(void, WTSCloseServer, (uintptr_t server), (override));
  MOCK_METHOD(uint32_t, WTSGetActiveConsoleSessionId, (), (override));
  MOCK_METHOD(bool, WTSConnectSessionW,
              (uint32_t logon_id, uint32_t target_logon_id, const char16_t* password, bool wait),
              (override));

  MOCK_METHOD(bool, ProcessIdToSessionId, (uint32_t process_id, uint32_t* session_id), (override));
  MOCK_METHOD(bool, GetComputerNameExW, (uint32_t name_type, char16_t* buffer, uint32_t* size),
              (override));
  MOCK_METHOD(bool, GetUserNameA, (char* buffer, uint32_t* size), (override));
  MOCK_METHOD(bool, GetVersionExA, (uint32_t * major_version), (override));
  MOCK_METHOD(uint32_t, NetWkstaGetInfo,
              (const char16_t* server, uint32_t level, platform::WkstaInfo100** buffer),
              (override));
  MOCK_METHOD(uint32_t, NetApiBufferFree, (void* buffer), (override));

  MOCK_METHOD(bool, OpenThreadToken, (uint32_t access, bool open_as_self, platform::Handle* token),
              (override));
  MOCK_METHOD(bool, OpenProcessToken, (uint32_t access, platform::Handle* token), (override));
  MOCK_METHOD(bool, GetTokenInformation,
              (platform::Handle token, uint32_t information_class, void* information,
               uint32_t length, uint32_t* return_length),
              (override));
  MOCK_METHOD(bool, AllocateAndInitializeSid,
              (const platform::SidIdentifierAuthority& authority, uint8_t sub_authority_count,
               (const uint32_t (&sub_authorities)[8]), void** sid),
              (override));
  MOCK_METHOD(bool, EqualSid, (void* first, void* second), (override));
  MOCK_METHOD(void, FreeSid, (void* sid), (override));
  MOCK_METHOD(bool, CloseHandle, (platform::Handle handle), (override));
  MOCK_METHOD(bool, LookupPrivilegeValueA,
              (const char* system_name, const char* name, platform::Luid* luid), (override));
  MOCK_METHOD(bool, AdjustTokenPrivileges,
              (platform::Handle token, bool disable_all, const platform::TokenPrivileges* new_state,
               uint32_t buffer_length, platform::TokenPrivileges* previous_state,
               uint32_t* return_length),
              (override));

  MOCK_METHOD(bool, ExitWindowsEx, (uint32_t flags, uint32_t reason), (override));
  MOCK_METHOD(uint32_t, InitiateShutdownA,
              (const char* machine, const char* message, uint32_t grace_period, uint32_t flags,
               uint32_t reason),
              (override));
  MOCK_METHOD(uint32_t, InitiateShutdownW,
              (const char16_t* machine, const char16_t* message, uint32_t grace_period,
               uint32_t flags, uint32_t reason),
              (override));
  MOCK_METHOD(bool, AbortSystemShutdownW, (const char16_t* machine), (override));
  MOCK_METHOD(void, Sleep, (uint32_t milliseconds), (override));
  MOCK_METHOD(uint32_t, UtcMillisecondsOfDay, (), (override));
  MOCK_METHOD(uint32_t, ReadLogonMode, (const char16_t* machine, platform::LogonMode* mode),
              (override));
  MOCK_METHOD(uint32_t, WriteLogonMode, (const char16_t* machine, const platform::LogonMode& mode),
              (override));
  MOCK_METHOD(bool, WTSEnumerateProcessesExW,
              (uintptr_t server, uint32_t* level, uint32_t session_id,
               platform::WtsProcessInfoEx** processes, uint32_t* count),
              (override));
  MOCK_METHOD(bool, WTSFreeMemoryExW, (uint32_t type_class, void* memory, uint32_t count),
              (override));
  MOCK_METHOD(bool, WTSTerminateProcess,
              (uintptr_t server, uint32_t process_id, uint32_t exit_code), (override));
  MOCK_METHOD(std::optional<std::u16string>, LookupAccountOwner,
              (const char16_t* system_name, void* sid), (override));
};

}  // namespace quillmarsh::test
