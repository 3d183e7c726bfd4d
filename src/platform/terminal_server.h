// The narrow boundary to the Windows functions that the commands rely on:
// Terminal Services, the account and its token, shutdown, error texts and
// the waits of "/SLEEP". Each member mirrors one Windows call with the same
// arguments and results, so the command code reads like the calls it makes.
//
// Implementations:
//   terminal_server-win32.cc      the real Windows API
//   simulated_server.cc           a server described by a JSON file (Linux
//                                 build, quillmarsh-sim.exe, tests)
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillmarsh::platform {

using Handle = void*;

inline constexpr uintptr_t kCurrentServerHandle = 0;
inline constexpr uint32_t kCurrentSession = 0xFFFFFFFF;
// WTSEnumerateProcessesExW: the processes of every session.
inline constexpr uint32_t kAnySession = 0xFFFFFFFE;
// WTS_TYPE_CLASS of WTSFreeMemoryExW for WTS_PROCESS_INFO_EXW records.
inline constexpr uint32_t kWtsTypeProcessInfoLevel1 = 1;
// WTSGetActiveConsoleSessionId: no session is attached to the console.
inline constexpr uint32_t kNoConsoleSession = 0xFFFFFFFF;

// Terminal Services information classes.
inline constexpr uint32_t kWtsUserName = 5;
inline constexpr uint32_t kWtsDomainName = 7;
inline constexpr uint32_t kWtsConnectState = 8;
inline constexpr uint32_t kWtsClientName = 10;
inline constexpr uint32_t kWtsClientAddress = 14;
inline constexpr uint32_t kWtsSessionInfo = 24;

// Address families of WTS_CLIENT_ADDRESS.
inline constexpr uint32_t kAfInet = 2;
inline constexpr uint32_t kAfInet6 = 23;

// GetComputerNameExW name types.
inline constexpr uint32_t kComputerNameNetBios = 0;
inline constexpr uint32_t kComputerNameDnsHostname = 1;
inline constexpr uint32_t kComputerNameDnsFullyQualified = 3;

// Token access rights and information classes.
inline constexpr uint32_t kTokenQuery = 0x0008;
inline constexpr uint32_t kTokenAdjustPrivileges = 0x0020;
inline constexpr uint32_t kTokenGroupsClass = 2;
inline constexpr uint32_t kTokenElevationTypeClass = 18;
inline constexpr uint32_t kSePrivilegeEnabled = 2;

// Error codes the program produces or reacts to.
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorCallNotImplemented = 120;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorPrivilegeNotHeld = 1314;
inline constexpr uint32_t kErrorNoSuchSession = 7022;
inline constexpr uint32_t kErrorProcNotFound = 127;
inline constexpr uint32_t kErrorBadNetPath = 53;
inline constexpr uint32_t kErrorRpcServerUnavailable = 1722;
inline constexpr uint32_t kErrorShutdownInProgress = 1115;
inline constexpr uint32_t kErrorNoShutdownInProgress = 1116;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorShutdownIsScheduled = 1190;

// InitiateShutdownA flags.
inline constexpr uint32_t kShutdownForceOthers = 0x01;
inline constexpr uint32_t kShutdownForceSelf = 0x02;
inline constexpr uint32_t kShutdownPowerOff = 0x08;
inline constexpr uint32_t kShutdownRestart = 0x04;

// Same layout as WTS_SESSION_INFOA.
struct WtsSessionInfo {
  uint32_t SessionId;
  char* pWinStationName;
  uint32_t State;
};

// Same layout as WTSINFOW. The times are FILETIME values (100 ns units
// since 1601-01-01 UTC); 0 means unknown.
struct WtsInfo {
  uint32_t State;
  uint32_t SessionId;
  uint32_t IncomingBytes;
  uint32_t OutgoingBytes;
  uint32_t IncomingFrames;
  uint32_t OutgoingFrames;
  uint32_t IncomingCompressedBytes;
  uint32_t OutgoingCompressedBytes;
  char16_t WinStationName[32];
  char16_t Domain[17];
  char16_t UserName[21];
  int64_t ConnectTime;
  int64_t DisconnectTime;
  int64_t LastInputTime;
  int64_t LogonTime;
  int64_t CurrentTime;
};

// Same layout as WTS_CLIENT_ADDRESS: IPv4 holds its four bytes, IPv6 its
// sixteen, at offset 2 of Address.
struct WtsClientAddress {
  uint32_t AddressFamily;
  uint8_t Address[20];
};

// Same layout as WKSTA_INFO_100.
struct WkstaInfo100 {
  uint32_t wki100_platform_id;
  char16_t* wki100_computername;
  char16_t* wki100_langroup;
  uint32_t wki100_ver_major;
  uint32_t wki100_ver_minor;
};

// Same layouts as SID_AND_ATTRIBUTES and TOKEN_GROUPS.
struct SidAndAttributes {
  void* Sid;
  uint32_t Attributes;
};
struct TokenGroups {
  uint32_t GroupCount;
  SidAndAttributes Groups[1];
};

struct SidIdentifierAuthority {
  uint8_t Value[6];
};

// Same layouts as LUID and a TOKEN_PRIVILEGES with one entry (16 bytes).
struct Luid {
  uint32_t LowPart;
  int32_t HighPart;
};
struct TokenPrivileges {
  uint32_t PrivilegeCount;
  Luid PrivilegeLuid;
  uint32_t Attributes;
};
static_assert(sizeof(TokenPrivileges) == 16);

// Whether a server takes new logons: the two properties of the WMI class
// Win32_TerminalServiceSetting (namespace root\CIMV2\TerminalServices).
struct LogonMode {
  // 0 all connections allowed; 1 reconnections only, until the server
  // restarts; 2 reconnections only.
  uint32_t SessionBrokerDrainMode = 0;
  // 0 new logons allowed; 1 new logons from clients refused.
  uint32_t Logons = 0;
};

// Same layout as WTS_PROCESS_INFO_EXW. The sizes are bytes, the times
// 100 ns units.
struct WtsProcessInfoEx {
  uint32_t SessionId;
  uint32_t ProcessId;
  char16_t* pProcessName;
  void* pUserSid;
  uint32_t NumberOfThreads;
  uint32_t HandleCount;
  uint32_t PagefileUsage;
  uint32_t PeakPagefileUsage;
  uint32_t WorkingSetSize;
  uint32_t PeakWorkingSetSize;
  int64_t UserTime;
  int64_t KernelTime;
};

class TerminalServer {
 public:
  virtual ~TerminalServer() = default;

  // The error code of the last failed call, as GetLastError.
  virtual uint32_t GetLastError() = 0;
  // FormatMessageA(FROM_SYSTEM | ARGUMENT_ARRAY) into a 256-character
  // buffer: the raw text, empty when the system has none.
  virtual std::string FormatMessage(uint32_t code) = 0;

  // wtsapi32, bound at run time: a missing library or function fails the
  // call with 127 (ERROR_PROC_NOT_FOUND).
  virtual bool WTSEnumerateSessionsA(uintptr_t server, uint32_t reserved, uint32_t version,
                                     WtsSessionInfo** sessions, uint32_t* count) = 0;
  virtual bool WTSQuerySessionInformationA(uintptr_t server, uint32_t session_id,
                                           uint32_t info_class, char** buffer, uint32_t* bytes) = 0;
  // Classes 10 (a text), 14 (WtsClientAddress) and 24 (WtsInfo); the
  // buffer is freed with WTSFreeMemory.
  virtual bool WTSQuerySessionInformationW(uintptr_t server, uint32_t session_id,
                                           uint32_t info_class, char16_t** buffer,
                                           uint32_t* bytes) = 0;
  virtual void WTSFreeMemory(void* memory) = 0;
  virtual bool WTSSendMessageW(uintptr_t server, uint32_t session_id, const char16_t* title,
                               uint32_t title_bytes, const char16_t* message,
                               uint32_t message_bytes, uint32_t style, uint32_t timeout,
                               uint32_t* response, bool wait) = 0;
  virtual bool WTSDisconnectSession(uintptr_t server, uint32_t session_id, bool wait) = 0;
  virtual bool WTSLogoffSession(uintptr_t server, uint32_t session_id, bool wait) = 0;
  // Bound at run time. Opening never reaches the server: the first call on
  // the handle does. 0 when the handle could not be made (GetLastError).
  virtual uintptr_t WTSOpenServerA(const char* server_name) = 0;
  virtual void WTSCloseServer(uintptr_t server) = 0;

  // kernel32 WTSGetActiveConsoleSessionId, bound at run time: the session
  // attached to the physical console; kNoConsoleSession when none is, and
  // when the function is missing.
  virtual uint32_t WTSGetActiveConsoleSessionId() = 0;
  // wtsapi32 WTSConnectSessionW, bound at run time: session `logon_id` goes
  // to the terminal of `target_logon_id`, which is disconnected. Always on
  // this server; `password` is never null ("" for the caller's own sessions).
  virtual bool WTSConnectSessionW(uint32_t logon_id, uint32_t target_logon_id,
                                  const char16_t* password, bool wait) = 0;

  // kernel32 ProcessIdToSessionId, bound at run time: false when the
  // function is missing or fails.
  virtual bool ProcessIdToSessionId(uint32_t process_id, uint32_t* session_id) = 0;

  // kernel32 GetComputerNameExW: `size` is in characters, with the NUL;
  // too small a buffer fails with 234 and sets `size` to what is needed.
  virtual bool GetComputerNameExW(uint32_t name_type, char16_t* buffer, uint32_t* size) = 0;

  // Account and version.
  virtual bool GetUserNameA(char* buffer, uint32_t* size) = 0;
  // GetVersionExA with an OSVERSIONINFOEXA of size 156.
  virtual bool GetVersionExA(uint32_t* major_version) = 0;
  // netapi32, bound at run time; a missing library or function gives a
  // nonzero status.
  virtual uint32_t NetWkstaGetInfo(const char16_t* server, uint32_t level,
                                   WkstaInfo100** buffer) = 0;
  virtual uint32_t NetApiBufferFree(void* buffer) = 0;

  // advapi32 token calls; GetTokenInformation is bound at run time.
  virtual bool OpenThreadToken(uint32_t access, bool open_as_self, Handle* token) = 0;
  virtual bool OpenProcessToken(uint32_t access, Handle* token) = 0;
  virtual bool GetTokenInformation(Handle token, uint32_t information_class, void* information,
                                   uint32_t length, uint32_t* return_length) = 0;
  virtual bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                        uint8_t sub_authority_count,
                                        const uint32_t (&sub_authorities)[8], void** sid) = 0;
  virtual bool EqualSid(void* first, void* second) = 0;
  virtual void FreeSid(void* sid) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  virtual bool LookupPrivilegeValueA(const char* system_name, const char* name, Luid* luid) = 0;
  virtual bool AdjustTokenPrivileges(Handle token, bool disable_all,
                                     const TokenPrivileges* new_state, uint32_t buffer_length,
                                     TokenPrivileges* previous_state, uint32_t* return_length) = 0;

  // user32 ExitWindowsEx.
  virtual bool ExitWindowsEx(uint32_t flags, uint32_t reason) = 0;
  // advapi32 InitiateShutdownA, bound at run time: 0 when the machine
  // accepted the request, otherwise the error code.
  virtual uint32_t InitiateShutdownA(const char* machine, const char* message,
                                     uint32_t grace_period, uint32_t flags, uint32_t reason) = 0;
  // advapi32 InitiateShutdownW and AbortSystemShutdownW, bound at run time;
  // a null machine is this one. InitiateShutdownW answers as
  // InitiateShutdownA does.
  virtual uint32_t InitiateShutdownW(const char16_t* machine, const char16_t* message,
                                     uint32_t grace_period, uint32_t flags, uint32_t reason) = 0;
  virtual bool AbortSystemShutdownW(const char16_t* machine) = 0;

  // The one-second waits of "/SLEEP".
  virtual void Sleep(uint32_t milliseconds) = 0;
  // The UTC time of day in milliseconds, read once at start-up.
  virtual uint32_t UtcMillisecondsOfDay() = 0;

  // The logon mode of a machine through WMI (COM, initialised and
  // uninitialised on the calling thread); a null machine is this one. 0, or
  // the HRESULT (or error code) of the step that failed. Either may block for
  // as long as a remote machine takes to answer.
  virtual uint32_t ReadLogonMode(const char16_t* machine, LogonMode* mode) = 0;
  // Writes both properties of the machine's single instance, update only.
  virtual uint32_t WriteLogonMode(const char16_t* machine, const LogonMode& mode) = 0;
  // wtsapi32, bound at run time. `level` goes in as 1 and comes back as
  // the level of the records; the buffer is freed with WTSFreeMemoryExW
  // (kWtsTypeProcessInfoLevel1 and the count).
  virtual bool WTSEnumerateProcessesExW(uintptr_t server, uint32_t* level, uint32_t session_id,
                                        WtsProcessInfoEx** processes, uint32_t* count) = 0;
  virtual bool WTSFreeMemoryExW(uint32_t type_class, void* memory, uint32_t count) = 0;
  virtual bool WTSTerminateProcess(uintptr_t server, uint32_t process_id, uint32_t exit_code) = 0;
  // The account of a SID as "DOMAIN\user", as advapi32 LookupAccountSidW
  // names it on `system_name` (null: this machine); nullopt when the SID
  // does not resolve.
  virtual std::optional<std::u16string> LookupAccountOwner(const char16_t* system_name,
                                                           void* sid) = 0;
};

// Builds the terminal server of this program: the real one on Windows, or
// the simulated one named by the environment. On failure returns null and
// fills `error` with one line for standard error.
class System;
std::unique_ptr<TerminalServer> CreateTerminalServer(System& system, std::string* error);

}  // namespace quillmarsh::platform
