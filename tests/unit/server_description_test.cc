#include "simulated/server_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "simulated/simulated_server.h"
#include "test_support.h"

namespace quillmarsh::test {
namespace {

using simulated::ReadServerDescription;

std::string ErrorOf(const std::string& json) {
  std::string error;
  EXPECT_FALSE(ReadServerDescription(json, &error).has_value()) << json;
  return error;
}

TEST(ServerDescription, ReadsEveryKey) {
  std::string error;
  auto server = ReadServerDescription(R"({
    "own_session": 2, "user_name": null, "os_major": 5, "netwksta_major": 6,
    "token": {"thread": {"groups": ["S-1-5-32-544"], "elevation_type": 3},
              "process": null, "shutdown_privilege": false},
    "enumerate_error": 1, "current_session": {"disconnect_error": 2, "logoff_error": 3},
    "exit_windows_error": 4,
    "sessions": [{"id": 4294967295, "station": "s", "state": "Init", "user": "u",
                  "domain": "d", "user_error": 5, "domain_error": 6, "send_error": 7,
                  "disconnect_error": 8, "logoff_error": 9}, {"id": 1, "state": 12}],
    "utc_ms_of_day": 123, "virtual_sleep": true})",
                                      &error);
  ASSERT_TRUE(server.has_value()) << error;
  EXPECT_EQ(server->own_session, 2u);
  EXPECT_TRUE(server->user_name_fails);
  EXPECT_EQ(server->os_major, 5u);
  EXPECT_EQ(server->netwksta_major, 6u);
  ASSERT_TRUE(server->thread_token.has_value());
  EXPECT_EQ(
      server->thread_token->groups,
      (std::vector<std::vector<uint8_t>>{{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}}));
  EXPECT_EQ(server->thread_token->elevation_type, 3u);
  EXPECT_FALSE(server->process_token.has_value());
  EXPECT_FALSE(server->shutdown_privilege);
  EXPECT_EQ(server->enumerate_error, 1u);
  EXPECT_EQ(server->current_disconnect_error, 2u);
  EXPECT_EQ(server->current_logoff_error, 3u);
  EXPECT_EQ(server->exit_windows_error, 4u);
  ASSERT_EQ(server->sessions.size(), 2u);
  const simulated::SimulatedSession& first = server->sessions[0];
  EXPECT_EQ(first.id, 4294967295u);
  EXPECT_EQ(first.state, 9u);
  EXPECT_EQ(first.station + first.user + first.domain, "sud");
  EXPECT_EQ(first.user_error + first.domain_error + first.send_error + first.disconnect_error +
                first.logoff_error,
            35u);
  EXPECT_EQ(server->sessions[1].state, 12u);
  EXPECT_EQ(server->utc_ms_of_day, 123u);
  EXPECT_TRUE(server->virtual_sleep);
}

TEST(ServerDescription, ReadsOtherServers) {
  std::string error;
  auto server = ReadServerDescription(R"({
    "sessions": [{"id": 1, "state": "Active"}],
    "servers": {"TS02": {"sessions": [{"id": 7, "state": "Disconnected", "user": "bob"}],
                         "enumerate_error": 5, "shutdown_error": 1722},
                "ts03": {}}})",
                                      &error);
  ASSERT_TRUE(server.has_value()) << error;
  ASSERT_EQ(server->sessions.size(), 1u);
  ASSERT_EQ(server->servers.size(), 2u);
  const simulated::SimulatedRemoteServer& first = server->servers[0];
  EXPECT_EQ(first.name, "TS02");
  ASSERT_EQ(first.sessions.size(), 1u);
  EXPECT_EQ(first.sessions[0].id, 7u);
  EXPECT_EQ(first.sessions[0].state, 4u);
  EXPECT_EQ(first.sessions[0].user, "bob");
  EXPECT_EQ(first.enumerate_error, 5u);
  EXPECT_EQ(first.shutdown_error, 1722u);
  EXPECT_EQ(server->servers[1].name, "ts03");
  EXPECT_TRUE(server->servers[1].sessions.empty());
  EXPECT_TRUE(simulated::SameServerName("Ts03.Corp", "tS03.cORP"));
  EXPECT_FALSE(simulated::SameServerName("ts03", "ts03 "));
}

// The values themselves are pinned down by the /LOGONS end-to-end cases.
TEST(ServerDescription, ReadsTheLogonModeErrorsAndRefusesUnknownKeys) {
  std::string error;
  auto server = ReadServerDescription(
      R"({"logon_mode_error": 2147749902, "servers": {"TS02": {"logon_mode_error": 5}}})", &error);
  ASSERT_TRUE(server.has_value()) << error;
  EXPECT_EQ(server->logon_mode.error, 2147749902u);
  EXPECT_EQ(server->servers.at(0).logon_mode.error, 5u);
  EXPECT_EQ(ErrorOf(R"({"logon_mode": {"drian": 1}})"), "unknown key \"drian\" in \"logon_mode\"");
  EXPECT_EQ(ErrorOf(R"({"logon_mode_delay_ms": 1})"),
            "unknown key \"logon_mode_delay_ms\" in the server");
  EXPECT_EQ(ErrorOf(R"({"servers": {"ts02": {"logon_mode": 0}}})"),
            "\"logon_mode\" must be an object");
}

TEST(ServerDescription, AbsentKeysKeepTheirDefaults) {
  std::string error;
  auto server = ReadServerDescription("{}", &error);
  ASSERT_TRUE(server.has_value());
  EXPECT_FALSE(server->own_session.has_value());
  EXPECT_FALSE(server->user_name.has_value());
  EXPECT_FALSE(server->user_name_fails);
  EXPECT_EQ(server->os_major, 10u);
  EXPECT_FALSE(server->netwksta_major.has_value());
  EXPECT_FALSE(server->thread_token.has_value());
  ASSERT_TRUE(server->process_token.has_value());
  EXPECT_EQ(server->process_token->elevation_type, 1u);
  EXPECT_TRUE(server->shutdown_privilege);
}

// The -A calls hand names out in the ANSI code page: here a stand-in for
// 1252 that keeps Latin-1 and turns everything else into '?'.
TEST(ServerDescription, NamesReachTheACallsInTheAnsiCodePage) {
  const simulated::AnsiEncoder latin1 = [](std::string_view utf8) {
    std::string ansi;
    for (char16_t c : platform::Utf8ToUtf16(utf8)) ansi += c < 0x100 ? static_cast<char>(c) : '?';
    return ansi;
  };
  std::string error;
  auto server = simulated::CreateSimulatedServer(
      R"({"user_name": "adminé", "sessions": [{"id": 3, "station": "RDP-Tcp#é",
          "state": "Active", "user": "jürgen", "domain": "ŁÓDŹ"}],
          "servers": {"TS0é": {"sessions": [{"id": 3, "state": "Active", "user": "jürgen"}]}}})",
      nullptr, "real", &error, latin1);
  ASSERT_NE(server, nullptr) << error;
  platform::WtsSessionInfo* sessions = nullptr;
  uint32_t count = 0;
  ASSERT_TRUE(server->WTSEnumerateSessionsA(0, 0, 1, &sessions, &count));
  EXPECT_STREQ(sessions[0].pWinStationName, "RDP-Tcp#\xe9");
  server->WTSFreeMemory(sessions);
  for (const auto& [info_class, want] : {std::pair{platform::kWtsUserName, "j\xfcrgen"},
                                         {platform::kWtsDomainName,
                                          "?\xd3"
                                          "D?"}}) {
    char* text = nullptr;
    uint32_t bytes = 0;
    ASSERT_TRUE(server->WTSQuerySessionInformationA(0, 3, info_class, &text, &bytes));
    EXPECT_STREQ(text, want);
    EXPECT_EQ(bytes, std::strlen(want) + 1);
    server->WTSFreeMemory(text);
  }
  // Another server, named as the command line names it.
  const uintptr_t remote = server->WTSOpenServerA("TS0\xe9");
  char* text = nullptr;
  uint32_t bytes = 0;
  ASSERT_TRUE(
      server->WTSQuerySessionInformationA(remote, 3, platform::kWtsUserName, &text, &bytes));
  EXPECT_STREQ(text, "j\xfcrgen");
  server->WTSFreeMemory(text);
  server->WTSCloseServer(remote);
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(server->GetUserNameA(name, &size));
  EXPECT_STREQ(name, "admin\xe9");
}

// A legacy code page: the A answers lose what 1252 lacks (best fit for the
// Polish letters), the W answers of classes 5 and 7 keep the names, with
// 2 × (units + 1) bytes and the same failures.
TEST(ServerDescription, LegacyCodePageMakesOnlyTheAAnswersLossy) {
  std::string error;
  auto server = simulated::CreateSimulatedServer(
      R"({"ansi_code_page": 1252, "user_name": "Łukasz", "sessions": [
          {"id": 3, "station": "Ω€", "state": "Active", "user": "Иван", "domain": "ŁÓDŹ"},
          {"id": 4, "state": "Active", "user": "x", "domain_error": 5}]})",
      nullptr, "real", &error);
  ASSERT_NE(server, nullptr) << error;
  platform::WtsSessionInfo* sessions = nullptr;
  uint32_t count = 0;
  ASSERT_TRUE(server->WTSEnumerateSessionsA(0, 0, 1, &sessions, &count));
  EXPECT_STREQ(sessions[0].pWinStationName, "?\x80");
  server->WTSFreeMemory(sessions);
  for (const auto& [info_class, ansi, wide] :
       {std::tuple{platform::kWtsUserName, "????", u"Иван"}, std::tuple{platform::kWtsDomainName,
                                                                        "L\xd3"
                                                                        "D?",
                                                                        u"ŁÓDŹ"}}) {
    char* text = nullptr;
    uint32_t bytes = 0;
    ASSERT_TRUE(server->WTSQuerySessionInformationA(0, 3, info_class, &text, &bytes));
    EXPECT_STREQ(text, ansi);
    EXPECT_EQ(bytes, 5u);
    server->WTSFreeMemory(text);
    char16_t* answer = nullptr;
    ASSERT_TRUE(server->WTSQuerySessionInformationW(0, 3, info_class, &answer, &bytes));
    EXPECT_EQ(std::u16string(answer), wide);
    EXPECT_EQ(bytes, 10u);
    server->WTSFreeMemory(answer);
  }
  char16_t* answer = nullptr;
  uint32_t bytes = 0;
  EXPECT_FALSE(
      server->WTSQuerySessionInformationW(0, 4, platform::kWtsDomainName, &answer, &bytes));
  EXPECT_EQ(server->GetLastError(), 5u);
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(server->GetUserNameA(name, &size));
  EXPECT_STREQ(name, "Lukasz");
  EXPECT_EQ(ErrorOf(R"({"ansi_code_page": 1251})"), "\"ansi_code_page\" must be 65001 or 1252");
}

TEST(ServerDescription, SaysWhatIsWrong) {
  EXPECT_EQ(ErrorOf(R"({"sesions": []})"), "unknown key \"sesions\" in the server");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": "Busy"}]})"),
            "\"Busy\" is not a session state");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"state": 0}]})"), "a session has no \"id\"");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 0}]})"), "a session has no \"state\"");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": -1, "state": 0}]})"),
            "\"id\" must be a whole number from 0 to 4294967295");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 4294967296, "state": 0}]})"),
            "\"id\" must be a whole number from 0 to 4294967295");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "user": 5}]})"),
            "\"user\" must be a text");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "colour": 5}]})"),
            "unknown key \"colour\" in a session");
  EXPECT_EQ(ErrorOf(R"({"sessions": [1]})"), "a session must be an object");
  EXPECT_EQ(ErrorOf(R"({"sessions": {}})"), "\"sessions\" must be a list");
  EXPECT_EQ(ErrorOf(R"({"virtual_sleep": 1})"), "\"virtual_sleep\" must be true or false");
  EXPECT_EQ(ErrorOf(R"({"token": {"process": {"groups": ["S-1-x"]}}})"), "\"S-1-x\" is not a SID");
  EXPECT_EQ(ErrorOf(R"({"token": {"process": {"elevation_type": 4}}})"),
            "\"elevation_type\" must be 0 to 3");
  EXPECT_EQ(ErrorOf(R"({"token": 1})"), "\"token\" must be an object");
  EXPECT_EQ(ErrorOf("[]"), "the server must be an object");
  EXPECT_EQ(ErrorOf(R"({"servers": {"ts02": {}, "TS02": {}}})"), "server \"TS02\" is named twice");
  EXPECT_EQ(ErrorOf(R"({"servers": {"ts02": {"own_session": 1}}})"),
            "unknown key \"own_session\" in another server");
  EXPECT_EQ(ErrorOf(R"({"servers": {"ts02": 1}})"), "\"ts02\" must be an object");
  EXPECT_EQ(ErrorOf(R"({"servers": []})"), "\"servers\" must be an object");
  EXPECT_EQ(ErrorOf(R"({"servers": {"ts02": {"sessions": [{"id": 1}]}}})"),
            "a session has no \"state\"");
  EXPECT_EQ(ErrorOf("{\"os_major\": 1.5}"),
            "\"os_major\" must be a whole number from 0 to 4294967295");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "processes": [{"pid": 1}]}]})"),
            "a process has no \"image\"");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "processes": [{"image": ""}]}]})"),
            "a process has no \"pid\"");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "processes": [{"sid": 1}]}]})"),
            "unknown key \"sid\" in a process");
  EXPECT_EQ(ErrorOf(R"({"servers": {"ts02": {"enumerate_processes_error": -5}}})"),
            "\"enumerate_processes_error\" must be a whole number from 0 to 4294967295");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "answer": "maybe"}]})"),
            "\"maybe\" is not an answer (yes, no, timeout or a number)");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "state_after": {"after_s": 5}}]})"),
            "\"state_after\" needs \"after_s\" and \"state\"");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "state_after": {"at": 5}}]})"),
            "unknown key \"at\" in \"state_after\"");
  EXPECT_EQ(ErrorOf(R"({"sessions": [{"id": 1, "state": 0, "state_after": 5}]})"),
            "\"state_after\" must be an object");
  EXPECT_EQ(ErrorOf("{").rfind("not valid JSON", 0), 0u);
}

// What the program itself never does: calls on a closed or a never-issued
// handle, and a handle left open at the end.
TEST(SimulatedServer, ClosedHandlesFailAndOpenOnesShowAsALeak) {
  std::vector<std::string> journal;
  {
    auto server = MakeServer(R"({"servers": {"TS02": {}}})", &journal);
    ASSERT_NE(server, nullptr);
    const uintptr_t first = server->WTSOpenServerA("ts02");
    const uintptr_t second = server->WTSOpenServerA("TS02");
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    server->WTSCloseServer(first);
    EXPECT_FALSE(server->WTSLogoffSession(first, 1, false));
    EXPECT_EQ(server->GetLastError(), 1722u);
    EXPECT_FALSE(server->WTSLogoffSession(3, 1, false));
    EXPECT_EQ(server->GetLastError(), 6u);
    EXPECT_FALSE(server->WTSLogoffSession(second, 1, false));
    EXPECT_EQ(server->GetLastError(), 7022u);
  }
  ASSERT_EQ(journal.size(), 7u);
  EXPECT_EQ(journal[2], R"({"call":"WTSCloseServer","handle":1,"ok":true})");
  EXPECT_EQ(journal.back(), R"({"call":"leak","ok":false,"buffers":0,"handles":1})");
}

TEST(SimulatedServer, JournalsANameThatIsNotUtf8) {
  std::vector<std::string> journal;
  {
    auto server = MakeServer("{}", &journal);
    ASSERT_NE(server, nullptr);
    server->WTSCloseServer(server->WTSOpenServerA("a\xff"));
  }
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0],
            "{\"call\":\"WTSOpenServerA\",\"name\":\"a\xEF\xBF\xBD\",\"handle\":1,\"ok\":true}");
}

// InitiateShutdown checks its parameters before it looks at the machine, so
// a wrong flag fails here as it would on a farm, whatever the server says.
TEST(SimulatedServer, RefusesTheShutdownParametersThatWindowsRefuses) {
  std::vector<std::string> journal;
  auto server = MakeServer(R"({"servers": {"TS02": {"shutdown_error": 5}}})", &journal);
  ASSERT_NE(server, nullptr);
  const uint32_t reason = 0x80020004;
  EXPECT_EQ(server->InitiateShutdownA("TS02", nullptr, 0, 5, reason), 87u);
  EXPECT_EQ(server->InitiateShutdownA("nosuchhost", nullptr, 0, 9, reason), 87u);
  EXPECT_EQ(server->InitiateShutdownA("TS02", nullptr, 0, 7, reason), 5u);
  EXPECT_EQ(server->InitiateShutdownW(nullptr, u"", 60, 5, reason), 87u);
  EXPECT_EQ(server->InitiateShutdownW(u"TS02", u"", 0, 9, reason), 87u);
  EXPECT_EQ(server->InitiateShutdownW(nullptr, u"", 60, 0x27, reason), 160u);
  EXPECT_EQ(server->InitiateShutdownW(nullptr, u"", 0, 0x24, reason), 0u);
}

}  // namespace
}  // namespace quillmarsh::test
