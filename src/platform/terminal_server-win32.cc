// The real Windows API behind TerminalServer.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/system.h"
#include "platform/terminal_server.h"

// After the interface: Windows' FormatMessage macro would rename its member.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// These need <windows.h> first.
#include <lm.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>
#include <wtsapi32.h>
#undef FormatMessage

#include "platform/system_library-win32.h"
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

static_assert(sizeof(SidAndAttributes) == sizeof(SID_AND_ATTRIBUTES));
static_assert(offsetof(SidAndAttributes, Sid) == offsetof(SID_AND_ATTRIBUTES, Sid));
static_assert(offsetof(SidAndAttributes, Attributes) == offsetof(SID_AND_ATTRIBUTES, Attributes));
static_assert(sizeof(TokenGroups) == sizeof(TOKEN_GROUPS));
static_assert(offsetof(TokenGroups, GroupCount) == offsetof(TOKEN_GROUPS, GroupCount));
static_assert(offsetof(TokenGroups, Groups) == offsetof(TOKEN_GROUPS, Groups));

static_assert(sizeof(SidIdentifierAuthority) == sizeof(SID_IDENTIFIER_AUTHORITY));
static_assert(sizeof(Luid) == sizeof(LUID));
static_assert(offsetof(Luid, LowPart) == offsetof(LUID, LowPart));
static_assert(offsetof(Luid, HighPart) == offsetof(LUID, HighPart));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES));
static_assert(offsetof(TokenPrivileges, PrivilegeCount) ==
              offsetof(TOKEN_PRIVILEGES, PrivilegeCount));
static_assert(offsetof(TokenPrivileges, PrivilegeLuid) ==
              offsetof(TOKEN_PRIVILEGES, Privileges[0].Luid));
static_assert(offsetof(TokenPrivileges, Attributes) ==
              offsetof(TOKEN_PRIVILEGES, Privileges[0].Attributes));

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

static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(WTS_CURRENT_SESSION == kCurrentSession);
static_assert(SHUTDOWN_FORCE_OTHERS == kShutdownForceOthers);
static_assert(SHUTDOWN_RESTART == kShutdownRestart);
static_assert(SHUTDOWN_POWEROFF == kShutdownPowerOff);
static_assert(ERROR_SHUTDOWN_IN_PROGRESS == kErrorShutdownInProgress);
static_assert(ERROR_NO_SHUTDOWN_IN_PROGRESS == kErrorNoShutdownInProgress);
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
using ExitWindowsExFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);
using GetTokenInformationFunction = decltype(&::GetTokenInformation);
using NetWkstaGetInfoFunction = decltype(&::NetWkstaGetInfo);
using NetApiBufferFreeFunction = decltype(&::NetApiBufferFree);
using WTSOpenServerAFunction = HANDLE(WINAPI*)(LPSTR server_name);
using WTSCloseServerFunction = void(WINAPI*)(HANDLE server);
using InitiateShutdownAFunction = DWORD(WINAPI*)(LPSTR machine, LPSTR message, DWORD grace_period,
                                                 DWORD flags, DWORD reason);
using InitiateShutdownWFunction = DWORD(WINAPI*)(LPWSTR machine, LPWSTR message, DWORD grace_period,
                                                 DWORD flags, DWORD reason);
using AbortSystemShutdownWFunction = BOOL(WINAPI*)(LPWSTR machine);
using CoInitializeExFunction = decltype(&::CoInitializeEx);
using CoUninitializeFunction = decltype(&::CoUninitialize);
using CoCreateInstanceFunction = decltype(&::CoCreateInstance);
using CoSetProxyBlanketFunction = decltype(&::CoSetProxyBlanket);
using SysAllocStringFunction = decltype(&::SysAllocString);
using SysFreeStringFunction = decltype(&::SysFreeString);
using VariantClearFunction = decltype(&::VariantClear);
using WTSEnumerateProcessesExWFunction = BOOL(WINAPI*)(HANDLE server, DWORD* level,
                                                       DWORD session_id, LPWSTR* processes,
                                                       DWORD* count);
// The first argument is the enumeration WTS_TYPE_CLASS.
using WTSFreeMemoryExWFunction = BOOL(WINAPI*)(int type_class, PVOID memory, ULONG count);
using WTSTerminateProcessFunction = decltype(&::WTSTerminateProcess);
using WTSGetActiveConsoleSessionIdFunction = decltype(&::WTSGetActiveConsoleSessionId);
using WTSConnectSessionWFunction = decltype(&::WTSConnectSessionW);

template <typename Function>
Function FindFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  FARPROC address = ::GetProcAddress(module, name);
  // Through void (*)(), which converts to every function pointer type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// A library loaded from the System32 folder only, on the first use of one of
// its functions, and kept until the process ends. A copy of the same name
// beside the program or in the current folder is never looked at: the
// program runs elevated from folders that others may be able to write to.
// Loading it late spares every run the set-up of libraries it does not use
// (user32 and the window system, for one).
class Library {
 public:
  explicit Library(const wchar_t* name) : name_(name) {}
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Null when the library is missing; then error() says why.
  HMODULE get() const {
    std::call_once(loaded_, [this] {
      module_ = LoadSystemLibrary(name_, SystemKnowsSearchFlags());
      if (module_ == nullptr) error_ = ::GetLastError();
    });
    return module_;
  }
  DWORD error() const { return error_; }

 private:
  const wchar_t* name_;
  mutable std::once_flag loaded_;
  mutable HMODULE module_ = nullptr;
  mutable DWORD error_ = 0;
};

// A function of a Library, looked up by name on its first use; the address
// found (or its absence) is kept for later calls. Safe from any thread.
template <typename Function>
class LateBound {
 public:
  LateBound(const Library& library, const char* name) : library_(library), name_(name) {}

  Function get() {
    std::call_once(looked_up_, [this] {
      HMODULE module = library_.get();
      function_ = FindFunction<Function>(module, name_);
      if (function_ == nullptr) {
        error_ =
            module == nullptr && library_.error() != 0 ? library_.error() : ERROR_PROC_NOT_FOUND;
      }
    });
    return function_;
  }
  // Why get() gave null: the library's load error (126 when it is missing),
  // or 127 for a function the library lacks.
  DWORD error() const { return error_; }

 private:
  const Library& library_;
  const char* name_;
  std::once_flag looked_up_;
  Function function_ = nullptr;
  DWORD error_ = 0;
};

HANDLE ServerHandle(uintptr_t server) { return reinterpret_cast<HANDLE>(server); }

wchar_t* WideText(const char16_t* text) {
  return reinterpret_cast<wchar_t*>(const_cast<char16_t*>(text));
}

// Answers false with the error a missing function gives.
template <typename Function>
bool Missing(const LateBound<Function>& function) {
  ::SetLastError(function.error());
  return false;
}

// ---- WMI: the logon mode ---------------------------------------------------

// The ole32 and oleaut32 functions that WMI through COM needs, all bound.
struct ComFunctions {
  CoInitializeExFunction initialize;
  CoUninitializeFunction uninitialize;
  CoCreateInstanceFunction create_instance;
  CoSetProxyBlanketFunction set_proxy_blanket;
  SysAllocStringFunction alloc_string;
  SysFreeStringFunction free_string;
  VariantClearFunction variant_clear;
};

// COM for the calling thread, for as long as the owner lives. Declared
// before every COM pointer of a call, so that they are released first.
class ComApartment {
 public:
  explicit ComApartment(const ComFunctions& com)
      : com_(com), result_(com.initialize(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) com_.uninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT result() const { return result_; }

 private:
  const ComFunctions& com_;
  HRESULT result_;
};

template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface** Receive() { return &pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

class Bstr {
 public:
  Bstr(const ComFunctions& com, const wchar_t* text)
      : free_(com.free_string), text_(com.alloc_string(text)) {}
  ~Bstr() {
    if (text_ != nullptr) free_(text_);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }

 private:
  SysFreeStringFunction free_;
  BSTR text_;
};

class Variant {
 public:
  explicit Variant(const ComFunctions& com) : clear_(com.variant_clear) {
    std::memset(&value_, 0, sizeof value_);
    value_.vt = VT_EMPTY;
  }
  ~Variant() { clear_(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

 private:
  VariantClearFunction clear_;
  VARIANT value_;
};

constexpr wchar_t kDrainModeProperty[] = L"SessionBrokerDrainMode";
// Documented as a string ("0" or "1"); an integer is taken as well.
constexpr wchar_t kLogonsProperty[] = L"Logons";

// WMI's codes are enumerators above LONG_MAX; as HRESULTs they are negative.
constexpr HRESULT kWbemNotFound = static_cast<HRESULT>(0x80041002u);
constexpr HRESULT kWbemTypeMismatch = static_cast<HRESULT>(0x80041005u);

uint32_t Failure(HRESULT result) { return FAILED(result) ? static_cast<uint32_t>(result) : 0; }

// Packet privacy (remote connections to this namespace require it) and
// impersonation, with the caller's own credentials.
HRESULT SetSecurity(const ComFunctions& com, IUnknown* proxy) {
  return com.set_proxy_blanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT,
                               COLE_DEFAULT_PRINCIPAL, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

// Connects to the Terminal Services namespace of `machine` (null: this one)
// and finds its single Win32_TerminalServiceSetting instance.
HRESULT FindSetting(const ComFunctions& com, const char16_t* machine,
                    ComPointer<IWbemServices>* services, ComPointer<IWbemClassObject>* setting) {
  ComPointer<IWbemLocator> locator;
  HRESULT result =
      com.create_instance(__uuidof(WbemLocator), nullptr, CLSCTX_INPROC_SERVER,
                          __uuidof(IWbemLocator), reinterpret_cast<void**>(locator.Receive()));
  if (FAILED(result)) return result;
  std::wstring path = L"root\\CIMV2\\TerminalServices";
  if (machine != nullptr) {
    path = L"\\\\" + std::wstring(reinterpret_cast<const wchar_t*>(machine)) + L"\\" + path;
  }
  const Bstr name(com, path.c_str());
  const Bstr class_name(com, L"Win32_TerminalServiceSetting");
  if (name.get() == nullptr || class_name.get() == nullptr) return E_OUTOFMEMORY;
  // At most two minutes for a machine that does not answer; the caller
  // gives up sooner as a rule.
  result =
      locator->ConnectServer(name.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                             nullptr, nullptr, services->Receive());
  if (FAILED(result)) return result;
  result = SetSecurity(com, services->get());
  if (FAILED(result)) return result;
  ComPointer<IEnumWbemClassObject> instances;
  result = (*services)->CreateInstanceEnum(class_name.get(),
                                           WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                           nullptr, instances.Receive());
  if (FAILED(result)) return result;
  // The enumerator of a remote machine is a proxy of its own. One that is
  // not a proxy refuses a blanket, and needs none.
  SetSecurity(com, instances.get());
  ULONG returned = 0;
  result = instances->Next(static_cast<long>(WBEM_INFINITE), 1, setting->Receive(), &returned);
  if (FAILED(result)) return result;
  return returned == 1 && setting->get() != nullptr ? S_OK : kWbemNotFound;
}

// A uint32 as WMI hands it over (VT_I4 as a rule), or a decimal text.
HRESULT NumberOf(const VARIANT& value, uint32_t* number) {
  switch (value.vt) {
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      *number = static_cast<uint32_t>(value.ulVal);
      return S_OK;
    case VT_I2:
    case VT_UI2:
      *number = value.uiVal;
      return S_OK;
    case VT_UI1:
      *number = value.bVal;
      return S_OK;
    case VT_BSTR: {
      const wchar_t* text = value.bstrVal;
      if (text == nullptr || *text == L'\0') return kWbemTypeMismatch;
      uint64_t parsed = 0;
      for (; *text != L'\0'; ++text) {
        if (*text < L'0' || *text > L'9') return kWbemTypeMismatch;
        parsed = parsed * 10 + static_cast<uint64_t>(*text - L'0');
        if (parsed > 0xFFFFFFFFu) return kWbemTypeMismatch;
      }
      *number = static_cast<uint32_t>(parsed);
      return S_OK;
    }
    default:
      // VT_NULL (no value) among others: nothing to go by.
      return kWbemTypeMismatch;
  }
}

// `number` in the type the property was read in: a text for a text.
HRESULT SetLike(const ComFunctions& com, const VARIANT& read, uint32_t number, Variant* written) {
  if (read.vt == VT_BSTR) {
    written->get()->bstrVal = com.alloc_string(std::to_wstring(number).c_str());
    if (written->get()->bstrVal == nullptr) return E_OUTOFMEMORY;
    written->get()->vt = VT_BSTR;
    return S_OK;
  }
  written->get()->vt = VT_I4;
  written->get()->lVal = static_cast<LONG>(number);
  return S_OK;
}

class WindowsTerminalServer : public TerminalServer {
 public:
  WindowsTerminalServer()
      : process_id_to_session_id_(FindFunction<ProcessIdToSessionIdFunction>(
            ::GetModuleHandleA("kernel32.dll"), "ProcessIdToSessionId")),
        advapi32_(L"advapi32.dll"),
        user32_(L"user32.dll"),
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
        wts_enumerate_processes_(wtsapi32_, "WTSEnumerateProcessesExW"),
        wts_free_memory_ex_(wtsapi32_, "WTSFreeMemoryExW"),
        wts_terminate_process_(wtsapi32_, "WTSTerminateProcess"),
        exit_windows_(user32_, "ExitWindowsEx"),
        initiate_shutdown_(advapi32_, "InitiateShutdownA"),
        initiate_shutdown_w_(advapi32_, "InitiateShutdownW"),
        abort_system_shutdown_(advapi32_, "AbortSystemShutdownW"),
        get_token_information_(advapi32_, "GetTokenInformation"),
        net_wksta_get_info_(netapi32_, "NetWkstaGetInfo"),
        net_api_buffer_free_(netapi32_, "NetApiBufferFree"),
        ole32_(L"ole32.dll"),
        oleaut32_(L"oleaut32.dll"),
        co_initialize_ex_(ole32_, "CoInitializeEx"),
        co_uninitialize_(ole32_, "CoUninitialize"),
        co_create_instance_(ole32_, "CoCreateInstance"),
        co_set_proxy_blanket_(ole32_, "CoSetProxyBlanket"),
        sys_alloc_string_(oleaut32_, "SysAllocString"),
        sys_free_string_(oleaut32_, "SysFreeString"),
        variant_clear_(oleaut32_, "VariantClear") {}

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

  bool OpenThreadToken(uint32_t access, bool open_as_self, Handle* token) override {
    HANDLE handle = nullptr;
    const BOOL done = ::OpenThreadToken(::GetCurrentThread(), access, open_as_self, &handle);
    *token = handle;
    return done != FALSE;
  }

  bool OpenProcessToken(uint32_t access, Handle* token) override {
    HANDLE handle = nullptr;
    const BOOL done = ::OpenProcessToken(::GetCurrentProcess(), access, &handle);
    *token = handle;
    return done != FALSE;
  }

  bool GetTokenInformation(Handle token, uint32_t information_class, void* information,
                           uint32_t length, uint32_t* return_length) override {
    GetTokenInformationFunction function = get_token_information_.get();
    if (function == nullptr) return Missing(get_token_information_);
    DWORD returned = 0;
    const BOOL done = function(token, static_cast<TOKEN_INFORMATION_CLASS>(information_class),
                               information, length, &returned);
    if (return_length != nullptr) *return_length = returned;
    return done != FALSE;
  }

  bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                uint8_t sub_authority_count, const uint32_t (&sub_authorities)[8],
                                void** sid) override {
    SID_IDENTIFIER_AUTHORITY identifier{};
    std::memcpy(identifier.Value, authority.Value, sizeof identifier.Value);
    PSID created = nullptr;
    const BOOL done = ::AllocateAndInitializeSid(
        &identifier, sub_authority_count, sub_authorities[0], sub_authorities[1],
        sub_authorities[2], sub_authorities[3], sub_authorities[4], sub_authorities[5],
        sub_authorities[6], sub_authorities[7], &created);
    *sid = created;
    return done != FALSE;
  }

  bool EqualSid(void* first, void* second) override { return ::EqualSid(first, second) != FALSE; }

  void FreeSid(void* sid) override { ::FreeSid(sid); }

  bool CloseHandle(Handle handle) override { return ::CloseHandle(handle) != FALSE; }

  bool LookupPrivilegeValueA(const char* system_name, const char* name, Luid* luid) override {
    LUID value{};
    const BOOL done = ::LookupPrivilegeValueA(system_name, name, &value);
    luid->LowPart = value.LowPart;
    luid->HighPart = value.HighPart;
    return done != FALSE;
  }

  bool AdjustTokenPrivileges(Handle token, bool disable_all, const TokenPrivileges* new_state,
                             uint32_t buffer_length, TokenPrivileges* previous_state,
                             uint32_t* return_length) override {
    DWORD returned = 0;
    const BOOL done = ::AdjustTokenPrivileges(
        token, disable_all,
        reinterpret_cast<PTOKEN_PRIVILEGES>(const_cast<TokenPrivileges*>(new_state)), buffer_length,
        reinterpret_cast<PTOKEN_PRIVILEGES>(previous_state),
        return_length != nullptr ? &returned : nullptr);
    if (return_length != nullptr) *return_length = returned;
    return done != FALSE;
  }

  bool ExitWindowsEx(uint32_t flags, uint32_t reason) override {
    ExitWindowsExFunction function = exit_windows_.get();
    if (function == nullptr) return Missing(exit_windows_);
    return function(flags, reason) != FALSE;
  }

  uint32_t InitiateShutdownA(const char* machine, const char* message, uint32_t grace_period,
                             uint32_t flags, uint32_t reason) override {
    InitiateShutdownAFunction function = initiate_shutdown_.get();
    if (function == nullptr) return initiate_shutdown_.error();
    return function(const_cast<char*>(machine), const_cast<char*>(message), grace_period, flags,
                    reason);
  }

  uint32_t InitiateShutdownW(const char16_t* machine, const char16_t* message,
                             uint32_t grace_period, uint32_t flags, uint32_t reason) override {
    InitiateShutdownWFunction function = initiate_shutdown_w_.get();
    if (function == nullptr) return initiate_shutdown_w_.error();
    return function(WideText(machine), WideText(message), grace_period, flags, reason);
  }

  bool AbortSystemShutdownW(const char16_t* machine) override {
    AbortSystemShutdownWFunction function = abort_system_shutdown_.get();
    if (function == nullptr) return Missing(abort_system_shutdown_);
    return function(WideText(machine)) != FALSE;
  }

  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

  uint32_t UtcMillisecondsOfDay() override {
    SYSTEMTIME time{};
    ::GetSystemTime(&time);
    return ((time.wHour * 60u + time.wMinute) * 60u + time.wSecond) * 1000u + time.wMilliseconds;
  }

  uint32_t ReadLogonMode(const char16_t* machine, LogonMode* mode) override {
    return WithLogonSetting(
        machine, [mode](ComFunctions& com, IWbemServices*, IWbemClassObject* setting) {
          Variant drain(com);
          Variant logons(com);
          LogonMode read;
          HRESULT result = setting->Get(kDrainModeProperty, 0, drain.get(), nullptr, nullptr);
          if (SUCCEEDED(result)) result = NumberOf(drain.value(), &read.SessionBrokerDrainMode);
          if (SUCCEEDED(result))
            result = setting->Get(kLogonsProperty, 0, logons.get(), nullptr, nullptr);
          if (SUCCEEDED(result)) result = NumberOf(logons.value(), &read.Logons);
          if (SUCCEEDED(result)) *mode = read;
          return result;
        });
  }

  uint32_t WriteLogonMode(const char16_t* machine, const LogonMode& mode) override {
    return WithLogonSetting(
        machine, [&mode](ComFunctions& com, IWbemServices* services, IWbemClassObject* setting) {
          // Read first for the types the properties have on that machine.
          Variant drain(com);
          Variant logons(com);
          Variant new_drain(com);
          Variant new_logons(com);
          HRESULT result = setting->Get(kDrainModeProperty, 0, drain.get(), nullptr, nullptr);
          if (SUCCEEDED(result))
            result = setting->Get(kLogonsProperty, 0, logons.get(), nullptr, nullptr);
          if (SUCCEEDED(result)) {
            result = SetLike(com, drain.value(), mode.SessionBrokerDrainMode, &new_drain);
          }
          if (SUCCEEDED(result)) result = SetLike(com, logons.value(), mode.Logons, &new_logons);
          if (SUCCEEDED(result)) result = setting->Put(kDrainModeProperty, 0, new_drain.get(), 0);
          if (SUCCEEDED(result)) result = setting->Put(kLogonsProperty, 0, new_logons.get(), 0);
          if (SUCCEEDED(result)) {
            result = services->PutInstance(setting, WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
          }
          return result;
        });
  }

  bool WTSEnumerateProcessesExW(uintptr_t server, uint32_t* level, uint32_t session_id,
                                WtsProcessInfoEx** processes, uint32_t* count) override {
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

  bool WTSFreeMemoryExW(uint32_t type_class, void* memory, uint32_t count) override {
    WTSFreeMemoryExWFunction function = wts_free_memory_ex_.get();
    if (function == nullptr) return Missing(wts_free_memory_ex_);
    return function(static_cast<int>(type_class), memory, count) != FALSE;
  }

  bool WTSTerminateProcess(uintptr_t server, uint32_t process_id, uint32_t exit_code) override {
    WTSTerminateProcessFunction function = wts_terminate_process_.get();
    if (function == nullptr) return Missing(wts_terminate_process_);
    return function(ServerHandle(server), process_id, exit_code) != FALSE;
  }

  std::optional<std::u16string> LookupAccountOwner(const char16_t* system_name,
                                                   void* sid) override {
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

 private:
  // Runs `use` on the machine's single Win32_TerminalServiceSetting, in a
  // COM apartment of this thread: 0, or the HRESULT of the step that failed.
  template <typename Use>
  uint32_t WithLogonSetting(const char16_t* machine, Use use) {
    ComFunctions com{};
    if (const uint32_t error = BindCom(&com); error != 0) return error;
    const ComApartment apartment(com);
    if (FAILED(apartment.result())) return Failure(apartment.result());
    ComPointer<IWbemServices> services;
    ComPointer<IWbemClassObject> setting;
    const HRESULT result = FindSetting(com, machine, &services, &setting);
    if (FAILED(result)) return Failure(result);
    return Failure(use(com, services.get(), setting.get()));
  }

  // ole32 and oleaut32, loaded on the first logon-mode call: 0, or the
  // error of the library or function that is missing.
  uint32_t BindCom(ComFunctions* com) {
    com->initialize = co_initialize_ex_.get();
    com->uninitialize = co_uninitialize_.get();
    com->create_instance = co_create_instance_.get();
    com->set_proxy_blanket = co_set_proxy_blanket_.get();
    com->alloc_string = sys_alloc_string_.get();
    com->free_string = sys_free_string_.get();
    com->variant_clear = variant_clear_.get();
    if (com->initialize == nullptr) return co_initialize_ex_.error();
    if (com->uninitialize == nullptr) return co_uninitialize_.error();
    if (com->create_instance == nullptr) return co_create_instance_.error();
    if (com->set_proxy_blanket == nullptr) return co_set_proxy_blanket_.error();
    if (com->alloc_string == nullptr) return sys_alloc_string_.error();
    if (com->free_string == nullptr) return sys_free_string_.error();
    if (com->variant_clear == nullptr) return variant_clear_.error();
    return 0;
  }

  ProcessIdToSessionIdFunction process_id_to_session_id_;
  Library advapi32_;
  Library user32_;
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
  LateBound<WTSEnumerateProcessesExWFunction> wts_enumerate_processes_;
  LateBound<WTSFreeMemoryExWFunction> wts_free_memory_ex_;
  LateBound<WTSTerminateProcessFunction> wts_terminate_process_;
  LateBound<ExitWindowsExFunction> exit_windows_;
  LateBound<InitiateShutdownAFunction> initiate_shutdown_;
  LateBound<InitiateShutdownWFunction> initiate_shutdown_w_;
  LateBound<AbortSystemShutdownWFunction> abort_system_shutdown_;
  LateBound<GetTokenInformationFunction> get_token_information_;
  LateBound<NetWkstaGetInfoFunction> net_wksta_get_info_;
  LateBound<NetApiBufferFreeFunction> net_api_buffer_free_;
  Library ole32_;
  Library oleaut32_;
  LateBound<CoInitializeExFunction> co_initialize_ex_;
  LateBound<CoUninitializeFunction> co_uninitialize_;
  LateBound<CoCreateInstanceFunction> co_create_instance_;
  LateBound<CoSetProxyBlanketFunction> co_set_proxy_blanket_;
  LateBound<SysAllocStringFunction> sys_alloc_string_;
  LateBound<SysFreeStringFunction> sys_free_string_;
  LateBound<VariantClearFunction> variant_clear_;
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
