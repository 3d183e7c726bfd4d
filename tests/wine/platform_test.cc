// Checks the Windows platform layer against the system it runs on (Wine in
// the test script): the log's files and events, code pages, clocks, and the
// account, token, version and Terminal Services calls that cannot harm the
// machine. Never calls ExitWindowsEx, WTSLogoffSession, WTSDisconnectSession
// or WTSSendMessageW.
//
// Prints one line per check and "N passed, N failed"; exits 1 on a failure.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "platform/terminal_server.h"
#include "state/time_limited_call.h"
// After the interfaces: Windows' macros would rename their members.
#include "platform/system_library-win32.h"
#undef CreateEvent
#undef OpenEvent
#undef FormatMessage

namespace {

using namespace quillmarsh::platform;
using quillmarsh::platform::TokenGroups;

// WBEM_E_INVALID_NAMESPACE.
constexpr uint32_t kInvalidNamespace = 0x8004100E;

int g_passed = 0;
int g_failed = 0;

void Check(bool condition, const std::string& what) {
  if (condition) {
    ++g_passed;
    std::printf("ok   %s\n", what.c_str());
  } else {
    ++g_failed;
    std::printf("FAIL %s\n", what.c_str());
  }
}

std::string ReadAll(File& file, uint64_t offset, size_t size) {
  std::string data(size, '\0');
  data.resize(file.ReadAt(offset, data.data(), size));
  return data;
}

std::u16string Utf16(const std::string& text) { return Utf8ToUtf16(text); }

void FileChecks(System& system) {
  char buffer[1024] = {};
  const uint32_t length = system.GetTempPathA(sizeof buffer, buffer);
  Check(length > 0 && length < sizeof buffer && buffer[length - 1] == '\\',
        "GetTempPathA gives a directory ending in a backslash: " + std::string(buffer));
  char tiny[1] = {};
  Check(system.GetTempPathA(1, tiny) == length + 1,
        "GetTempPathA with a too small buffer asks for the length plus one");

  const std::string folder =
      std::string(buffer) + "quillmarsh-platform-" + std::to_string(system.CurrentProcessId());
  const std::u16string name = Utf16(folder + "\\one\\two\\test.log");
  Check(system.OpenFile(name, System::OpenMode::kAlwaysExclusive) == nullptr,
        "a file in missing directories cannot be created");
  system.CreateParentDirectories(name);
  Check(std::filesystem::is_directory(folder + "\\one\\two"),
        "CreateParentDirectories creates every missing directory");
  system.CreateParentDirectories(name);  // all present: nothing to do

  {
    auto created = system.OpenFile(name, System::OpenMode::kAlwaysExclusive);
    Check(created != nullptr, "kAlwaysExclusive creates the file");
    Check(system.OpenFile(name, System::OpenMode::kExistingWriteShareRead) == nullptr,
          "a file held with kAlwaysExclusive cannot be opened again");
    Check(created && created->WriteAt(0, "hello", 5), "WriteAt at offset 0");
  }
  {
    auto writer = system.OpenFile(name, System::OpenMode::kExistingWriteShareRead);
    Check(writer != nullptr, "kExistingWriteShareRead opens an existing file");
    Check(system.OpenFile(name, System::OpenMode::kExistingWriteShareRead) == nullptr,
          "a second writer is refused while the first holds the file");
    Check(writer && writer->WriteAt(10, "world", 5), "WriteAt beyond the end");
    Check(writer && ReadAll(*writer, 0, 100) == std::string("hello\0\0\0\0\0world", 15),
          "ReadAt reads the bytes written, the gap as zeros");
    Check(writer && ReadAll(*writer, 12, 2) == "rl", "ReadAt at an offset");
    Check(writer && ReadAll(*writer, 50, 10).empty(), "ReadAt beyond the end reads nothing");
    Check(writer && writer->Truncate(7) && ReadAll(*writer, 0, 100).size() == 7,
          "Truncate cuts the file");
  }
  Check(system.OpenFile(Utf16(folder + "\\missing.log"),
                        System::OpenMode::kExistingWriteShareRead) == nullptr,
        "kExistingWriteShareRead does not create a file");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void EventChecks(System& system) {
  const std::string name = "quillmarsh-platform-" + std::to_string(system.CurrentProcessId());
  uint32_t error = 99;
  auto created = system.CreateEvent(name, &error);
  Check(created != nullptr && error == 0, "CreateEvent creates a named event");
  if (!created) return;
  error = 99;
  auto opened = system.OpenEvent(name, &error);
  Check(opened != nullptr && error == 0, "OpenEvent finds it by name");
  if (!opened) return;
  Check(created->HandleValue() != 0 && created->HandleValue() != opened->HandleValue(),
        "each handle has its own value");
  Check(opened->Wait(0, &error) == Event::WaitResult::kTimeout, "a new event is not signalled");
  Check(created->Set(), "SetEvent");
  Check(opened->Wait(0, &error) == Event::WaitResult::kSignalled,
        "the other handle sees the signal");
  Check(opened->Wait(10, &error) == Event::WaitResult::kSignalled,
        "manual reset: the event stays signalled");
  error = 99;
  Check(opened->Reset(&error) && error == 0, "ResetEvent");
  Check(created->Wait(20, &error) == Event::WaitResult::kTimeout, "reset ends the signal");

  error = 0;
  Check(system.OpenEvent(name + "-missing", &error) == nullptr && error == 2,
        "OpenEvent of an unknown name fails with 2");
}

void TextAndClockChecks(System& system) {
  Check(system.AnsiToUtf16("").empty() && system.Utf16ToAnsi(u"").empty(), "empty texts");
  Check(system.AnsiToUtf16("Domain\\User: x") == u"Domain\\User: x", "AnsiToUtf16");
  Check(system.Utf16ToAnsi(u"Logoff OK: \\") == "Logoff OK: \\", "Utf16ToAnsi");
  const std::string long_text(300000, 'q');
  Check(system.Utf16ToAnsi(system.AnsiToUtf16(long_text)) == long_text, "long text round trip");

  const CalendarTime local = system.LocalTime();
  const CalendarTime utc = system.UtcTime();
  Check(local.Year >= 2024 && local.Month >= 1 && local.Month <= 12 && local.Day >= 1 &&
            local.Day <= 31 && local.Hour < 24 && local.Minute < 60 && local.Second < 60 &&
            local.Milliseconds < 1000,
        "GetLocalTime");
  Check(utc.Year >= 2024 && utc.Hour < 24, "GetSystemTime");
  CalendarTime converted;
  Check(system.LocalTimeOf(utc, &converted) && converted.Hour == local.Hour &&
            converted.Minute == local.Minute,
        "SystemTimeToTzSpecificLocalTime agrees with GetLocalTime");
  Check(system.CurrentProcessId() != 0, "GetCurrentProcessId");
  Check(!system.AccountName().empty(), "GetUserNameA gives the account: " + system.AccountName());
  system.SetCurrentThreadBelowNormalPriority();
}

// Wine delivers no console event that a test could send itself without a
// terminal: tests/wine/ctrl_c_test.py sends the program a Ctrl+C instead.
void EndOfSessionChecks(System& system) {
  auto handler = system.InstallEndOfSessionHandler([] {}, [] {});
  Check(handler != nullptr, "the end-of-session handler is installed");
  Check(system.InstallEndOfSessionHandler([] {}, [] {}) == nullptr, "a second one is refused");
  handler.reset();
  handler = system.InstallEndOfSessionHandler([] {}, [] {});
  Check(handler != nullptr, "a released handler can be installed again");
}

// Wine's WMI has no Terminal Services namespace: the read fails with an
// HRESULT, reads nothing, and a second read on another thread (COM set up
// and torn down again) answers the same.
void LogonModeChecks(TerminalServer& api) {
  uint32_t answers[2] = {};
  LogonMode modes[2];
  for (int i = 0; i < 2; ++i) {
    modes[i].SessionBrokerDrainMode = 7;
    modes[i].Logons = 7;
    std::thread([&api, &answers, &modes, i] {
      answers[i] = api.ReadLogonMode(nullptr, &modes[i]);
    }).join();
  }
  std::printf("note: ReadLogonMode(NULL) answers %u (0x%08X)\n", answers[0], answers[0]);
  Check(answers[0] == kInvalidNamespace && answers[1] == answers[0] &&
            modes[0].SessionBrokerDrainMode == 7 && modes[0].Logons == 7,
        "the logon mode read fails cleanly with WBEM_E_INVALID_NAMESPACE, twice");
}

void TerminalServerChecks(System& system) {
  std::string error;
  auto server = CreateTerminalServer(system, &error);
  Check(server != nullptr, "CreateTerminalServer");
  if (!server) return;
  TerminalServer& api = *server;

  uint32_t session = 0xFFFFFFFF;
  const bool found = api.ProcessIdToSessionId(system.CurrentProcessId(), &session);
  Check(found && session != 0xFFFFFFFF,
        "ProcessIdToSessionId is found in kernel32: session " + std::to_string(session));

  // Wine attaches its one session to the console.
  const uint32_t console = api.WTSGetActiveConsoleSessionId();
  Check(console == session,
        "WTSGetActiveConsoleSessionId is found in kernel32: session " + std::to_string(console));
  // Harmless: there is no session 4242 to connect.
  const bool connected = api.WTSConnectSessionW(4242, console, u"", true);
  const uint32_t connect_error = connected ? 0 : api.GetLastError();
  Check(connected || connect_error != kErrorProcNotFound, "WTSConnectSessionW is bound");
  std::printf("note: WTSConnectSessionW(4242) answers %d, error %u\n", connected ? 1 : 0,
              connect_error);

  char name[1024] = {};
  uint32_t size = sizeof name;
  Check(api.GetUserNameA(name, &size) && name == system.AccountName() &&
            size == std::strlen(name) + 1,
        "GetUserNameA");
  char short_name[1] = {};
  size = 1;
  Check(!api.GetUserNameA(short_name, &size) && api.GetLastError() == kErrorInsufficientBuffer &&
            size > 1,
        "GetUserNameA with a small buffer fails with 122 and the size needed");

  const std::string denied = api.FormatMessage(kErrorAccessDenied);
  Check(denied.size() > 2 && denied.substr(denied.size() - 2) == "\r\n",
        "FormatMessageA(5) gives a line: " + denied.substr(0, denied.size() - 2));
  // ERROR_WRONG_DISK's text has inserts (%1, %2, %3).
  const std::string inserts = api.FormatMessage(34);
  Check(inserts.find('%') == std::string::npos,
        "a text with inserts: " + inserts.substr(0, inserts.find('\r')));
  Check(api.FormatMessage(0x2000F00D).empty(), "a code without a text gives an empty text");

  uint32_t major = 0;
  const bool versioned = api.GetVersionExA(&major);
  Check(versioned && major >= 5, "GetVersionExA: " + std::to_string(major));
  WkstaInfo100* info = nullptr;
  const uint32_t status = api.NetWkstaGetInfo(nullptr, 100, &info);
  Check(status == 0 && info != nullptr && info->wki100_ver_major >= 5,
        "NetWkstaGetInfo is bound from netapi32");
  if (info != nullptr) Check(api.NetApiBufferFree(info) == 0, "NetApiBufferFree");

  Handle token = nullptr;
  Check(!api.OpenThreadToken(kTokenQuery, true, &token) && api.GetLastError() == 1008,
        "OpenThreadToken without impersonation fails with 1008");
  Check(api.OpenProcessToken(kTokenQuery, &token) && token != nullptr, "OpenProcessToken");
  uint32_t needed = 0;
  std::vector<uint8_t> small(10);
  const bool read_small =
      api.GetTokenInformation(token, kTokenGroupsClass, small.data(), 10, &needed);
  Check(!read_small && api.GetLastError() == kErrorInsufficientBuffer && needed > 10,
        "GetTokenInformation (bound from advapi32) asks for " + std::to_string(needed) + " bytes");
  std::vector<uint8_t> groups_buffer(needed + 1024);
  Check(api.GetTokenInformation(token, kTokenGroupsClass, groups_buffer.data(),
                                static_cast<uint32_t>(groups_buffer.size()), &needed),
        "GetTokenInformation reads the group list");
  const auto* groups = reinterpret_cast<const TokenGroups*>(groups_buffer.data());

  void* administrators = nullptr;
  const uint32_t rids[8] = {32, 544};
  Check(api.AllocateAndInitializeSid({{0, 0, 0, 0, 0, 5}}, 2, rids, &administrators),
        "AllocateAndInitializeSid");
  void* everyone = nullptr;
  const uint32_t world[8] = {0};
  api.AllocateAndInitializeSid({{0, 0, 0, 0, 0, 1}}, 1, world, &everyone);
  Check(api.EqualSid(administrators, administrators) && !api.EqualSid(administrators, everyone),
        "EqualSid");
  bool member = false;
  for (uint32_t i = 0; i < groups->GroupCount; ++i) {
    member = member || api.EqualSid(administrators, groups->Groups[i].Sid);
  }
  std::printf("     %u groups, Administrators %s\n", groups->GroupCount,
              member ? "among them" : "not among them");
  api.FreeSid(everyone);
  api.FreeSid(administrators);

  uint32_t elevation = 0;
  uint32_t returned = 0;
  const bool elevation_read =
      api.GetTokenInformation(token, kTokenElevationTypeClass, &elevation, 4, &returned);
  Check(elevation_read && returned == 4 && elevation >= 1 && elevation <= 3,
        "TokenElevationType: " + std::to_string(elevation));
  Check(api.CloseHandle(token), "CloseHandle");

  Luid luid{};
  Check(api.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid) && luid.LowPart == 19 &&
            luid.HighPart == 0,
        "LookupPrivilegeValueA(SeShutdownPrivilege)");
  Check(
      !api.LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid) && api.GetLastError() == 1313,
      "LookupPrivilegeValueA of an unknown name fails with 1313");

  WtsSessionInfo* sessions = nullptr;
  uint32_t count = 12345;
  const bool enumerated = api.WTSEnumerateSessionsA(kCurrentServerHandle, 0, 1, &sessions, &count);
  Check(enumerated && count != 12345, "WTSEnumerateSessionsA: " + std::to_string(count));
  for (uint32_t i = 0; enumerated && i < count; ++i) {
    Check(sessions[i].State <= 9, "session record " + std::to_string(sessions[i].SessionId));
  }
  if (sessions != nullptr) api.WTSFreeMemory(sessions);

  // The session details of the own session, as docs/windows.md records them.
  for (uint32_t info_class : {kWtsSessionInfo, kWtsClientName, kWtsClientAddress}) {
    char16_t* buffer = nullptr;
    uint32_t bytes = 0;
    const bool answered = api.WTSQuerySessionInformationW(kCurrentServerHandle, kCurrentSession,
                                                          info_class, &buffer, &bytes);
    const uint32_t code = answered ? 0 : api.GetLastError();
    Check(answered || code != kErrorProcNotFound,
          "WTSQuerySessionInformationW class " + std::to_string(info_class) + " is bound");
    std::printf("     answered %d, %u bytes, error %u\n", answered, bytes, code);
    if (buffer != nullptr) api.WTSFreeMemory(buffer);
  }

  Check(api.UtcMillisecondsOfDay() < 86400000u, "UtcMillisecondsOfDay");

  // Harmless: with no countdown there is nothing to cancel.
  const bool aborted = api.AbortSystemShutdownW(nullptr);
  std::printf("note: AbortSystemShutdownW(NULL) answers %d, error %u\n", aborted ? 1 : 0,
              aborted ? 0u : api.GetLastError());

  // WMI through COM on a thread of this test's own, as the program makes
  // the call; docs/windows.md records what Wine answers.
  LogonModeChecks(api);

  char16_t computer[256] = {};
  uint32_t length = 256;
  Check(api.GetComputerNameExW(kComputerNameNetBios, computer, &length) && length > 0 &&
            computer[length] == u'\0',
        "GetComputerNameExW gives the NetBIOS name");
  length = 1;
  Check(!api.GetComputerNameExW(kComputerNameNetBios, computer, &length) &&
            api.GetLastError() == kErrorMoreData && length > 1,
        "GetComputerNameExW with a small buffer fails with 234 and the size needed");
}

// Windows without SetDefaultDllDirectories loads by the full System32 path.
void LibraryChecks() {
  HMODULE by_path = LoadSystemLibrary(L"wtsapi32.dll", false);
  Check(by_path != nullptr, "a library by its System32 path");
  if (by_path != nullptr) ::FreeLibrary(by_path);
  Check(LoadSystemLibrary(L"quillmarsh-nosuch.dll", false) == nullptr &&
            ::GetLastError() == ERROR_MOD_NOT_FOUND,
        "a missing library by path fails with 126");
  Check(LoadSystemLibrary(L"quillmarsh-nosuch.dll", true) == nullptr &&
            ::GetLastError() == ERROR_MOD_NOT_FOUND,
        "a missing library from System32 fails with 126");
}

}  // namespace

// One call within a time limit after another, each started once the thread
// of the one before has ended: every call must run. Threads that were
// detached at once lost their function now and then under Wine.
void TimeLimitedCallChecks(System& system) {
  std::string error;
  std::shared_ptr<TerminalServer> server = CreateTerminalServer(system, &error);
  int answered = 0;
  constexpr int kCalls = 300;
  for (int i = 0; i < kCalls; ++i) {
    const quillmarsh::TimeLimitedResult result = quillmarsh::CallWithinTimeLimit(
        server, [i](TerminalServer&) { return static_cast<uint32_t>(i % 7); },
        std::chrono::seconds(5));
    if (result.abandoned || result.error != static_cast<uint32_t>(i % 7)) break;
    ++answered;
    std::this_thread::sleep_for(std::chrono::microseconds(200 * (i % 7)));
  }
  Check(answered == kCalls, "300 calls within a time limit, one after another, all answered (" +
                                std::to_string(answered) + ")");
}

// Rounds of calls at the same time, as "/ASK" makes them: each round's
// calls all answer, in their own order, and one that takes longer than the
// deadline is given up on and kept, not detached.
void ConcurrentCallChecks(System& system) {
  std::string error;
  std::shared_ptr<TerminalServer> server = CreateTerminalServer(system, &error);
  int rounds = 0;
  constexpr int kRounds = 40;
  bool slow_given_up = false;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::function<uint32_t(TerminalServer&)>> calls;
    for (uint32_t i = 0; i < 8; ++i) {
      calls.push_back([i, round](TerminalServer&) {
        std::this_thread::sleep_for(std::chrono::milliseconds((7 - i + round) % 5));
        return i;
      });
    }
    if (round == 0) {
      calls.push_back([](TerminalServer&) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        return 99u;
      });
    }
    const std::vector<quillmarsh::TimeLimitedResult> results =
        quillmarsh::CallAllWithinTimeLimit(server, std::move(calls), std::chrono::seconds(1));
    bool all = true;
    for (uint32_t i = 0; i < 8; ++i) all = all && !results[i].abandoned && results[i].error == i;
    if (round == 0) slow_given_up = results[8].abandoned && results[8].error == 1460;
    if (!all) break;
    ++rounds;
  }
  Check(rounds == kRounds,
        "40 rounds of 8 calls at the same time, all answered (" + std::to_string(rounds) + ")");
  Check(slow_given_up, "a call slower than the deadline is given up on with 1460");
}

int main() {
  auto system = CreateSystem();
  FileChecks(*system);
  EventChecks(*system);
  TextAndClockChecks(*system);
  EndOfSessionChecks(*system);
  TerminalServerChecks(*system);
  LibraryChecks();
  TimeLimitedCallChecks(*system);
  ConcurrentCallChecks(*system);
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
