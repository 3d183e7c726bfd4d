// The real Windows API behind TerminalServer: the Terminal Services session
// calls, this machine's names, version and clock here; the token calls, the
// shutdown calls, the processes and the WMI logon setting in parts of their
// own (token-win32.cc, shutdown-win32.cc, processes-win32.cc,
// logon_setting-win32.cc), to which the class below hands those calls on.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "platform/late_binding-win32.h"
#include "platform/logon_setting-win32.h"
#include "platform/processes-win32.h"
#include "platform/shutdown-win32.h"
#include "platform/system.h"
#include "platform/token-win32.h"

// These need <windows.h> first.
#include <lm.h>
#include <wtsapi32.h>
#undef FormatMessage

namespace quillmarsh::platform {
namespace {

// The interface hands the system's own records through; their layouts must
// be the same.
static_assert(sizeof(WtsSessionInfo) == sizeof(WTS_SESSION_INFOA));
static_assert(offsetof(WtsSessionInfo, SessionId) == offsetof(WTS_SESSION_INFOA, SessionId));
static_assert(offsetof(WtsSessionInfo, pWinStationName) ==
              offsetof(WTS_SESSION_INFOA, pWinStationName));
static_assert(offsetof(WtsSessionInfo, State) == offsetof(WTS_SESSION_INFOA, State));
static_assert(sizeof(WtsSessionInfo::State) == sizeof(WTS_CONNECTSTATE_CLASS));

static_assert(sizeof(WkstaInfo100) == sizeof(WKSTA_INFO_100));
static_assert(offsetof(WkstaInfo100, wki100_platform_id) ==
              offsetof(WKSTA_INFO_100, wki100_platform_id));
static_assert(offsetof(WkstaInfo100, wki100_computername) ==
              offsetof(WKSTA_INFO_100, wki100_computername));
static_assert(offsetof(WkstaInfo100, wki100_langroup) == offsetof(WKSTA_INFO_100, wki100_langroup));
static_assert(offsetof(WkstaInfo100, wki100_ver_major) ==
              offsetof(WKSTA_INFO_100, wki100_ver_major));
static_assert(offsetof(WkstaInfo100, wki100_ver_minor) ==
              offsetof(WKSTA_INFO_100, wki100_ver_minor));

static_assert(sizeof(WtsInfo) == sizeof(WTSINFOW));
static_assert(offsetof(WtsInfo, State) == offsetof(WTSINFOW, State));
static_assert(offsetof(WtsInfo, SessionId) == offsetof(WTSINFOW, SessionId));
static_assert(offsetof(WtsInfo, WinStationName) == offsetof(WTSINFOW, WinStationName));
static_assert(offsetof(WtsInfo, Domain) == offsetof(WTSINFOW, Domain));
static_assert(offsetof(WtsInfo, UserName) == offsetof(WTSINFOW, UserName));
static_assert(offsetof(WtsInfo, ConnectTime) == offsetof(WTSINFOW, ConnectTime));
static_assert(offsetof(WtsInfo, DisconnectTime) == offsetof(WTSINFOW, DisconnectTime));
static_assert(offsetof(WtsInfo, LastInputTime) == offsetof(WTSINFOW, LastInputTime));
static_assert(offsetof(WtsInfo, LogonTime) == offsetof(WTSINFOW, LogonTime));
static_assert(offsetof(WtsInfo, CurrentTime) == offsetof(WTSINFOW, CurrentTime));
static_assert(sizeof(WtsClientAddress) == sizeof(WTS_CLIENT_ADDRESS));
static_assert(offsetof(WtsClientAddress, AddressFamily) ==
              offsetof(WTS_CLIENT_ADDRESS, AddressFamily));
static_assert(offsetof(WtsClientAddress, Address) == offsetof(WTS_CLIENT_ADDRESS, Address));
static_assert(WTSClientName == kWtsClientName);
static_assert(WTSClientAddress == kWtsClientAddress);
static_assert(WTSSessionInfo == kWtsSessionInfo);

static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(WTS_CURRENT_SESSION == kCurrentSession);
static_assert(ERROR_TIMEOUT == kErrorTimeout);
static_assert(ComputerNameNetBIOS == kComputerNameNetBios);
static_assert(ComputerNameDnsHostname == kComputerNameDnsHostname);
static_assert(ComputerNameDnsFullyQualified == kComputerNameDnsFullyQualified);
static_assert(ERROR_MORE_DATA == kErrorMoreData);

// The functions bound at run time, with the system's own signatures.
using WTSEnumerateSessionsAFunction = decltype(&::WTSEnumerateSessionsA);
using WTSQuerySessionInformationAFunction = decltype(&::WTSQuerySessionInformationA);
using WTSQuerySessionInformationWFunction = decltype(&::WTSQuerySessionInformationW);
using WTSFreeMemoryFunction = decltype(&::WTSFreeMemory);
using WTSSendMessageWFunction = decltype(&::WTSSendMessageW);
using WTSDisconnectSessionFunction = decltype(&::WTSDisconnectSession);
using WTSLogoffSessionFunction = decltype(&::WTSLogoffSession);
using ProcessIdToSessionIdFunction = decltype(&::ProcessIdToSessionId);
using NetWkstaGetInfoFunction = decltype(&::NetWkstaGetInfo);
using NetApiBufferFreeFunction = decltype(&::NetApiBufferFree);
using WTSOpenServerAFunction = HANDLE(WINAPI*)(LPSTR server_name);
using WTSCloseServerFunction = void(WINAPI*)(HANDLE server);
using WTSGetActiveConsoleSessionIdFunction = decltype(&::WTSGetActiveConsoleSessionId);
using WTSConnectSessionWFunction = decltype(&::WTSConnectSessionW);

class WindowsTerminalServer : public TerminalServer {
 public:
  WindowsTerminalServer()
      : process_id_to_session_id_(FindFunction<ProcessIdToSessionIdFunction>(
            ::GetModuleHandleA("kernel32.dll"), "ProcessIdToSessionId")),
        advapi32_(L"advapi32.dll"),
        netapi32_(L"netapi32.dll"),
        wtsapi32_(L"wtsapi32.dll"),
        wts_enumerate_sessions_(wtsapi32_, "WTSEnumerateSessionsA"),
        wts_query_session_information_(wtsapi32_, "WTSQuerySessionInformationA"),
        wts_query_session_information_w_(wtsapi32_, "WTSQuerySessionInformationW"),
        wts_free_memory_(wtsapi32_, "WTSFreeMemory"),
        wts_send_message_(wtsapi32_, "WTSSendMessageW"),
        wts_disconnect_session_(wtsapi32_, "WTSDisconnectSession"),
        wts_logoff_session_(wtsapi32_, "WTSLogoffSession"),
        wts_open_server_(wtsapi32_, "WTSOpenServerA"),
        wts_close_server_(wtsapi32_, "WTSCloseServer"),
        net_wksta_get_info_(netapi32_, "NetWkstaGetInfo"),
        net_api_buffer_free_(netapi32_, "NetApiBufferFree"),
        tokens_(advapi32_),
        shutdown_(advapi32_),
        processes_(wtsapi32_) {}

  uint32_t GetLastError() override { return ::GetLastError(); }

  std::string FormatMessage(uint32_t code) override {
    // Some system texts have inserts ("%1"); with FORMAT_MESSAGE_ARGUMENT_ARRAY
    // each is read from the argument array, so every entry points at an
    // empty text (two zero bytes: empty as ANSI and as UTF-16) instead of
    // there being no array to read.
    static const char kEmpty[2] = {};
    DWORD_PTR arguments[99];
    for (DWORD_PTR& argument : arguments) argument = reinterpret_cast<DWORD_PTR>(kEmpty);
    char buffer[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, code,
                         0, buffer, sizeof buffer, reinterpret_cast<va_list*>(arguments));
    return std::string(buffer, strnlen(buffer, std::min<size_t>(length, sizeof buffer)));
  }

  bool WTSEnumerateSessionsA(uintptr_t server, uint32_t reserved, uint32_t version,
                             WtsSessionInfo** sessions, uint32_t* count) override {
    WTSEnumerateSessionsAFunction function = wts_enumerate_sessions_.get();
    if (function == nullptr) {
      *sessions = nullptr;
      *count = 0;
      return Missing(wts_enumerate_sessions_);
    }
    PWTS_SESSION_INFOA records = nullptr;
    DWORD records_count = 0;
    const BOOL done = function(ServerHandle(server), reserved, version, &records, &records_count);
    *sessions = reinterpret_cast<WtsSessionInfo*>(records);
    *count = records_count;
    return done != FALSE;
  }

  bool WTSQuerySessionInformationA(uintptr_t server, uint32_t session_id, uint32_t info_class,
                                   char** buffer, uint32_t* bytes) override {
    WTSQuerySessionInformationAFunction function = wts_query_session_information_.get();
    if (function == nullptr) return Missing(wts_query_session_information_);
    LPSTR text = *buffer;
    DWORD text_bytes = *bytes;
    const BOOL done = function(ServerHandle(server), session_id,
                               static_cast<WTS_INFO_CLASS>(info_class), &text, &text_bytes);
    *buffer = text;
    *bytes = text_bytes;
    return done != FALSE;
  }

  bool WTSQuerySessionInformationW(uintptr_t server, uint32_t session_id, uint32_t info_class,
                                   char16_t** buffer, uint32_t* bytes) override {
    WTSQuerySessionInformationWFunction function = wts_query_session_information_w_.get();
    if (function == nullptr) return Missing(wts_query_session_information_w_);
    LPWSTR answer = WideText(*buffer);
    DWORD answer_bytes = *bytes;
    const BOOL done = function(ServerHandle(server), session_id,
                               static_cast<WTS_INFO_CLASS>(info_class), &answer, &answer_bytes);
    *buffer = reinterpret_cast<char16_t*>(answer);
    *bytes = answer_bytes;
    return done != FALSE;
  }

  void WTSFreeMemory(void* memory) override {
    // Without the library nothing was ever handed out.
    if (WTSFreeMemoryFunction function = wts_free_memory_.get()) function(memory);
  }

  bool WTSSendMessageW(uintptr_t server, uint32_t session_id, const char16_t* title,
                       uint32_t title_bytes, const char16_t* message, uint32_t message_bytes,
                       uint32_t style, uint32_t timeout, uint32_t* response, bool wait) override {
    WTSSendMessageWFunction function = wts_send_message_.get();
    if (function == nullptr) return Missing(wts_send_message_);
    DWORD answer = response != nullptr ? *response : 0;
    const BOOL done = function(ServerHandle(server), session_id, WideText(title), title_bytes,
                               WideText(message), message_bytes, style, timeout, &answer, wait);
    if (response != nullptr) *response = answer;
    return done != FALSE;
  }

  bool WTSDisconnectSession(uintptr_t server, uint32_t session_id, bool wait) override {
    WTSDisconnectSessionFunction function = wts_disconnect_session_.get();
    if (function == nullptr) return Missing(wts_disconnect_session_);
    return function(ServerHandle(server), session_id, wait) != FALSE;
  }

  bool WTSLogoffSession(uintptr_t server, uint32_t session_id, bool wait) override {
    WTSLogoffSessionFunction function = wts_logoff_session_.get();
    if (function == nullptr) return Missing(wts_logoff_session_);
    return function(ServerHandle(server), session_id, wait) != FALSE;
  }

  uintptr_t WTSOpenServerA(const char* server_name) override {
    WTSOpenServerAFunction function = wts_open_server_.get();
    if (function == nullptr) {
      Missing(wts_open_server_);
      return 0;
    }
    return reinterpret_cast<uintptr_t>(function(const_cast<char*>(server_name)));
  }

  void WTSCloseServer(uintptr_t server) override {
    if (WTSCloseServerFunction function = wts_close_server_.get()) {
      function(ServerHandle(server));
    }
  }

  uint32_t WTSGetActiveConsoleSessionId() override {
    if (wts_get_active_console_session_id_ == nullptr) return kNoConsoleSession;
    return wts_get_active_console_session_id_();
  }

  bool WTSConnectSessionW(uint32_t logon_id, uint32_t target_logon_id, const char16_t* password,
                          bool wait) override {
    WTSConnectSessionWFunction function = wts_connect_session_.get();
    if (function == nullptr) return Missing(wts_connect_session_);
    return function(logon_id, target_logon_id, WideText(password), wait ? TRUE : FALSE) != FALSE;
  }

  bool ProcessIdToSessionId(uint32_t process_id, uint32_t* session_id) override {
    if (process_id_to_session_id_ == nullptr) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return false;
    }
    DWORD session = 0;
    const BOOL done = process_id_to_session_id_(process_id, &session);
    if (done) *session_id = session;
    return done != FALSE;
  }

  bool GetComputerNameExW(uint32_t name_type, char16_t* buffer, uint32_t* size) override {
    DWORD length = *size;
    const BOOL done = ::GetComputerNameExW(static_cast<COMPUTER_NAME_FORMAT>(name_type),
                                           reinterpret_cast<wchar_t*>(buffer), &length);
    *size = length;
    return done != FALSE;
  }

  bool GetUserNameA(char* buffer, uint32_t* size) override {
    DWORD length = *size;
    const BOOL done = ::GetUserNameA(buffer, &length);
    *size = length;
    return done != FALSE;
  }

  bool GetVersionExA(uint32_t* major_version) override {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = 156;
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    *major_version = info.dwMajorVersion;
    return true;
  }

  uint32_t NetWkstaGetInfo(const char16_t* server, uint32_t level, WkstaInfo100** buffer) override {
    NetWkstaGetInfoFunction function = net_wksta_get_info_.get();
    if (function == nullptr) return net_wksta_get_info_.error();
    LPBYTE info = nullptr;
    const NET_API_STATUS status = function(WideText(server), level, &info);
    *buffer = reinterpret_cast<WkstaInfo100*>(info);
    return status;
  }

  uint32_t NetApiBufferFree(void* buffer) override {
    NetApiBufferFreeFunction function = net_api_buffer_free_.get();
    if (function == nullptr) return net_api_buffer_free_.error();
    return function(buffer);
  }

  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

  uint32_t UtcMillisecondsOfDay() override {
    SYSTEMTIME time{};
    ::GetSystemTime(&time);
    return ((time.wHour * 60u + time.wMinute) * 60u + time.wSecond) * 1000u + time.wMilliseconds;
  }

  // ---- the token calls (token-win32.cc)

  bool OpenThreadToken(uint32_t access, bool open_as_self, Handle* token) override {
    return tokens_.OpenThreadToken(access, open_as_self, token);
  }
  bool OpenProcessToken(uint32_t access, Handle* token) override {
    return tokens_.OpenProcessToken(access, token);
  }
  bool GetTokenInformation(Handle token, uint32_t information_class, void* information,
                           uint32_t length, uint32_t* return_length) override {
    return tokens_.GetTokenInformation(token, information_class, information, length,
                                       return_length);
  }
  bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                uint8_t sub_authority_count, const uint32_t (&sub_authorities)[8],
                                void** sid) override {
    return tokens_.AllocateAndInitializeSid(authority, sub_authority_count, sub_authorities, sid);
  }
  bool EqualSid(void* first, void* second) override { return tokens_.EqualSid(first, second); }
  void FreeSid(void* sid) override { tokens_.FreeSid(sid); }
  bool CloseHandle(Handle handle) override { return tokens_.CloseHandle(handle); }
  bool LookupPrivilegeValueA(const char* system_name, const char* name, Luid* luid) override {
    return tokens_.LookupPrivilegeValueA(system_name, name, luid);
  }
  bool AdjustTokenPrivileges(Handle token, bool disable_all, const TokenPrivileges* new_state,
                             uint32_t buffer_length, TokenPrivileges* previous_state,
                             uint32_t* return_length) override {
    return tokens_.AdjustTokenPrivileges(token, disable_all, new_state, buffer_length,
                                         previous_state, return_length);
  }

  // ---- restarts, power-offs and countdowns (shutdown-win32.cc)

  bool ExitWindowsEx(uint32_t flags, uint32_t reason) override {
    return shutdown_.ExitWindowsEx(flags, reason);
  }
  uint32_t InitiateShutdownA(const char* machine, const char* message, uint32_t grace_period,
                             uint32_t flags, uint32_t reason) override {
    return shutdown_.InitiateShutdownA(machine, message, grace_period, flags, reason);
  }
  uint32_t InitiateShutdownW(const char16_t* machine, const char16_t* message,
                             uint32_t grace_period, uint32_t flags, uint32_t reason) override {
    return shutdown_.InitiateShutdownW(machine, message, grace_period, flags, reason);
  }
  bool AbortSystemShutdownW(const char16_t* machine) override {
    return shutdown_.AbortSystemShutdownW(machine);
  }

  // ---- the logon mode through WMI (logon_setting-win32.cc)

  uint32_t ReadLogonMode(const char16_t* machine, LogonMode* mode) override {
    return logon_setting_.Read(machine, mode);
  }
  uint32_t WriteLogonMode(const char16_t* machine, const LogonMode& mode) override {
    return logon_setting_.Write(machine, mode);
  }

  // ---- processes (processes-win32.cc)

  bool WTSEnumerateProcessesExW(uintptr_t server, uint32_t* level, uint32_t session_id,
                                WtsProcessInfoEx** processes, uint32_t* count) override {
    return processes_.WTSEnumerateProcessesExW(server, level, session_id, processes, count);
  }
  bool WTSFreeMemoryExW(uint32_t type_class, void* memory, uint32_t count) override {
    return processes_.WTSFreeMemoryExW(type_class, memory, count);
  }
  bool WTSTerminateProcess(uintptr_t server, uint32_t process_id, uint32_t exit_code) override {
    return processes_.WTSTerminateProcess(server, process_id, exit_code);
  }
  std::optional<std::u16string> LookupAccountOwner(const char16_t* system_name,
                                                   void* sid) override {
    return processes_.LookupAccountOwner(system_name, sid);
  }

 private:
  ProcessIdToSessionIdFunction process_id_to_session_id_;
  Library advapi32_;
  Library netapi32_;
  Library wtsapi32_;
  LateBound<WTSEnumerateSessionsAFunction> wts_enumerate_sessions_;
  LateBound<WTSQuerySessionInformationAFunction> wts_query_session_information_;
  LateBound<WTSQuerySessionInformationWFunction> wts_query_session_information_w_;
  LateBound<WTSFreeMemoryFunction> wts_free_memory_;
  LateBound<WTSSendMessageWFunction> wts_send_message_;
  LateBound<WTSDisconnectSessionFunction> wts_disconnect_session_;
  LateBound<WTSLogoffSessionFunction> wts_logoff_session_;
  LateBound<WTSOpenServerAFunction> wts_open_server_;
  LateBound<WTSCloseServerFunction> wts_close_server_;
  LateBound<NetWkstaGetInfoFunction> net_wksta_get_info_;
  LateBound<NetApiBufferFreeFunction> net_api_buffer_free_;
  // The parts that have a file of their own, after the libraries they use.
  WindowsTokens tokens_;
  WindowsShutdown shutdown_;
  WindowsProcesses processes_;
  WmiLogonSetting logon_setting_;
  // Bound as ProcessIdToSessionId is: kernel32 is in every process, loaded
  // from System32.
  WTSGetActiveConsoleSessionIdFunction wts_get_active_console_session_id_ =
      FindFunction<WTSGetActiveConsoleSessionIdFunction>(::GetModuleHandleA("kernel32.dll"),
                                                         "WTSGetActiveConsoleSessionId");
  LateBound<WTSConnectSessionWFunction> wts_connect_session_{wtsapi32_, "WTSConnectSessionW"};
};

}  // namespace

std::unique_ptr<TerminalServer> CreateTerminalServer(System&, std::string*) {
  return std::make_unique<WindowsTerminalServer>();
}

}  // namespace quillmarsh::platform
