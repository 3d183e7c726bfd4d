#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/program.h"
#include "mock_terminal_server.h"
#include "sessions/session_listing.h"
#include "sessions/session_processes.h"
#include "sessions/session_scan.h"
#include "test_support.h"

namespace quillmarsh::test {
namespace {

// A padded first column of 66 characters, a blank, then the state.
std::string Row(const std::string& who, const std::string& state) {
  static const auto system = platform::CreateSystem();
  return sessions::PadRight(*system, who, 66) + " " + state;
}

const char* kServer = R"({
  "own_session": 2,
  "sessions": [
    {"id": 0, "station": "Services", "state": "Disconnected"},
    {"id": 1, "state": "Connected", "domain": "CORP"},
    {"id": 2, "state": "Active", "user": "alice", "domain": "CORP"},
    {"id": 3, "state": "Idle"},
    {"id": 4, "state": 12},
    {"id": 65536, "state": "Listen"}
  ]})";

TEST(Listing, PrintsNamedAndNumberedLinesInEnumerationOrder) {
  RunResult run = RunQuillmarsh(kServer, {"/LISTALLSESSIONS"});
  EXPECT_EQ(run.out, Lines({Row("\\", "Disconnected"), Row("CORP\\", "Connected"),
                            Row("CORP\\alice", "Active"), Row("#3", "Idle"), Row("#4", "unknown"),
                            Row("#65536", "Listen")}));
  EXPECT_EQ(run.exit_code, 2);
  // Each looked-up session's two buffers are freed, user first, before the
  // next session; the array last.
  EXPECT_EQ(
      run.journal[0],
      R"({"call":"WTSEnumerateSessionsA","server":0,"reserved":0,"version":1,"count":6,"ok":true})");
  EXPECT_EQ(run.journal[1],
            R"({"call":"WTSQuerySessionInformationW","server":0,"session":0,"class":5,"ok":true})");
  EXPECT_EQ(run.journal[2],
            R"({"call":"WTSQuerySessionInformationW","server":0,"session":0,"class":7,"ok":true})");
  const std::vector<std::string> per_session = {"WTSQuerySessionInformationW",
                                                "WTSQuerySessionInformationW", "WTSFreeMemory",
                                                "WTSFreeMemory"};
  std::vector<std::string> expected = {"WTSEnumerateSessionsA"};
  for (int i = 0; i < 3; ++i)
    expected.insert(expected.end(), per_session.begin(), per_session.end());
  expected.push_back("WTSFreeMemory");
  EXPECT_EQ(run.calls, expected);
}

TEST(Listing, ActiveListLeavesOutOtherStatesAndNotMeLeavesOutOwnSession) {
  RunResult run = RunQuillmarsh(kServer, {"/listactivesessions", "/NOTME", "/LISTALLSESSIONS"});
  EXPECT_EQ(run.out, Lines({Row("\\", "Disconnected"), Row("CORP\\", "Connected"),
                            Row("CORP\\alice", "Active"), Row("\\", "Disconnected"),
                            Row("CORP\\", "Connected"), Row("#3", "Idle"), Row("#4", "unknown"),
                            Row("#65536", "Listen")}));
}

TEST(Listing, ErrorLevelOneWhenSessionsExistButNoneIsListed) {
  RunResult run =
      RunQuillmarsh(R"({"sessions": [{"id": 5, "state": "Listen"}, {"id": 6, "state": "Idle"}]})",
                    {"/LISTACTIVESESSIONS"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.exit_code, 1);
}

TEST(Listing, NothingEnumeratedLeavesTheErrorLevel) {
  RunResult none = RunQuillmarsh(R"({"sessions": []})", {"/LISTALLSESSIONS"});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_EQ(none.calls, (std::vector<std::string>{"WTSEnumerateSessionsA", "WTSFreeMemory"}));
  RunResult failed = RunQuillmarsh(R"({"enumerate_error": 5, "sessions": [{"id": 1, "state": 0}]})",
                                   {"/LISTALLSESSIONS"});
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.exit_code, 0);
  EXPECT_EQ(failed.calls, std::vector<std::string>{"WTSEnumerateSessionsA"});
}

TEST(Listing, FailedLookupSkipsTheSessionAndFreesWhatWasHandedOut) {
  RunResult run = RunQuillmarsh(R"({"sessions": [
      {"id": 1, "state": "Active", "user": "a", "user_error": 5},
      {"id": 2, "state": "Active", "user": "b", "domain_error": 1722},
      {"id": 3, "state": "Active", "user": "c"}]})",
                                {"/LISTALLSESSIONS"});
  EXPECT_EQ(run.out, Lines({Row("\\c", "Active")}));
  EXPECT_EQ(
      run.calls,
      (std::vector<std::string>{
          "WTSEnumerateSessionsA", "WTSQuerySessionInformationW", "WTSQuerySessionInformationW",
          "WTSQuerySessionInformationW", "WTSFreeMemory", "WTSQuerySessionInformationW",
          "WTSQuerySessionInformationW", "WTSFreeMemory", "WTSFreeMemory", "WTSFreeMemory"}));
}

TEST(Listing, LongNamesAreNeverCut) {
  const std::string user(70, 'u');
  RunResult run =
      RunQuillmarsh(R"({"sessions": [{"id": 1, "state": "Active", "user": ")" + user + R"("}]})",
                    {"/LISTALLSESSIONS"});
  EXPECT_EQ(run.out, Lines({"\\" + user + " Active"}));
  EXPECT_EQ(sessions::ListingColumnWidth(), 66u);
}

// A looked-up session with the names as a W query answers them.
struct Looked {
  Looked(const std::string& user, const std::string& domain)
      : wide_user(platform::Utf8ToUtf16(user)), wide_domain(platform::Utf8ToUtf16(domain)) {}
  sessions::LookedUpSession session() const {
    static const platform::WtsSessionInfo record{1, nullptr, 0};
    return {record,
            {},
            {},
            static_cast<uint32_t>(2 * (wide_user.size() + 1)),
            static_cast<uint32_t>(2 * (wide_domain.size() + 1)),
            wide_user,
            wide_domain};
  }
  std::u16string wide_user;
  std::u16string wide_domain;
};

TEST(Matching, UserAloneDomainAndUserOrAll) {
  const auto system = platform::CreateSystem();
  const auto matches = [&system](const Looked& looked, const std::string& target, bool allow_all) {
    return MatchesTarget(*system, looked.session(), platform::Utf8ToUtf16(target), allow_all);
  };
  EXPECT_TRUE(matches(Looked("alice", "CORP"), "ALICE", false));
  EXPECT_TRUE(matches(Looked("Alice", "corp"), "CORP\\ALICE", false));
  EXPECT_FALSE(matches(Looked("alice", "OTHER"), "CORP\\ALICE", false));
  EXPECT_FALSE(matches(Looked("alice", ""), "\\ALICE", false));
  EXPECT_FALSE(matches(Looked("", "CORP"), "", true));
  EXPECT_TRUE(matches(Looked("", ""), "*ALL", true));
  EXPECT_FALSE(matches(Looked("bob", "CORP"), "*ALL", false));
  // Letter case is ignored beyond ASCII, as Windows ignores it.
  EXPECT_TRUE(matches(Looked("\xc3\xa9mile", "CORP"), "\xc3\x89MILE", false));
  EXPECT_TRUE(matches(Looked(std::string(245, 'a'), "D"), std::string(245, 'A'), false));
  EXPECT_FALSE(matches(Looked(std::string(246, 'a'), "D"), std::string(246, 'A'), false));
  EXPECT_FALSE(matches(Looked("a", std::string(246, 'd')), std::string(246, 'D') + "\\A", false));
}

TEST(Status, ErrorLevelFromTheStateOfTheLastMatchingSession) {
  const std::vector<std::pair<std::string, int>> states = {
      {"Active", 4}, {"Connected", 3}, {"ConnectQuery", 1}, {"Shadow", 5}, {"Disconnected", 2}};
  for (const auto& [name, level] : states) {
    RunResult run = RunQuillmarsh(R"({"own_session": 7, "sessions": [{"id": 7, "state": ")" + name +
                                      R"(", "user": "alice", "domain": "CORP"}]})",
                                  {"/NOTME", "/STATUS", " corp\\ALICE "});
    EXPECT_EQ(run.exit_code, level) << name;
    EXPECT_EQ(run.out, "");
  }
  RunResult two = RunQuillmarsh(R"({"sessions": [
      {"id": 1, "state": "Active", "user": "alice"},
      {"id": 2, "state": "Disconnected", "user": "alice"},
      {"id": 3, "state": "Idle", "user": "alice"}]})",
                                {"/STATUS", "alice"});
  EXPECT_EQ(two.exit_code, 2);
}

TEST(Status, NoMatchLeavesTheEarlierValueAndAMissingOperandStops) {
  const char* server = R"({"sessions": [{"id": 1, "state": "Active", "user": "alice"}]})";
  EXPECT_EQ(RunQuillmarsh(server, {"/LISTALLSESSIONS", "/STATUS", "*ALL"}).exit_code, 2);
  RunResult missing = RunQuillmarsh(server, {"/STATUS", "alice", "/STATUS"});
  EXPECT_EQ(missing.exit_code, 4);
  EXPECT_EQ(missing.out,
            BannerBlock() + Lines({"Wrong or unknown command. Type /?  for information"}));
}

TEST(OwnSession, UnknownOwnSessionMatchesNoSession) {
  RunResult run =
      RunQuillmarsh(R"({"sessions": [{"id": 4294967295, "state": "Active", "user": "x"}]})",
                    {"/NOTME", "/LISTALLSESSIONS"});
  EXPECT_EQ(run.out, Lines({Row("\\x", "Active")}));
}

// Where WTSOpenServerA fails (as on Wine), the failure is told once and the
// session commands on that server never fall back to the local one, also
// when the failure leaves no error code.
class ServerThatCannotBeOpened : public ::testing::TestWithParam<uint32_t> {};
INSTANTIATE_TEST_SUITE_P(Sessions, ServerThatCannotBeOpened, ::testing::Values(120u, 0u));

TEST_P(ServerThatCannotBeOpened, IsNeverTheLocalOne) {
  using ::testing::_;
  using ::testing::Return;
  ::testing::NiceMock<MockTerminalServer> server;
  EXPECT_CALL(server, WTSOpenServerA(::testing::StrEq("ts02"))).WillOnce(Return(0));
  EXPECT_CALL(server, GetLastError()).WillRepeatedly(Return(GetParam()));
  EXPECT_CALL(server, WTSEnumerateSessionsA(_, _, _, _, _)).Times(0);
  EXPECT_CALL(server, WTSLogoffSession(_, _, _)).Times(0);
  EXPECT_CALL(server, WTSCloseServer(_)).Times(0);
  CapturingSystem system;
  const int exit_code = RunProgram(
      {"quillmarsh", "/SERVER", "ts02", "/LISTALLSESSIONS", "/LOGOFF", "*ALL", "/STATUS", "x"},
      server, system);
  EXPECT_EQ(system.out, Lines({"Server Not OK: ts02", GetParam() == 0 ? " [1]" : " [120]"}));
  EXPECT_EQ(exit_code, 0);
}

TEST(Sessions, AnUnexpectedFailureStillClosesTheServer) {
  using ::testing::_;
  using ::testing::Return;
  ::testing::NiceMock<MockTerminalServer> server;
  EXPECT_CALL(server, WTSOpenServerA(_)).WillOnce(Return(7));
  // The server's check passes, the listing fails.
  EXPECT_CALL(server, WTSEnumerateSessionsA(7u, 0u, 1u, _, _))
      .WillOnce(Return(true))
      .WillOnce([](auto...) -> bool { throw std::runtime_error("lost"); });
  EXPECT_CALL(server, WTSCloseServer(7u)).Times(1);
  CapturingSystem system;
  RunProgram({"quillmarsh", "/SERVER", "ts02", "/LISTALLSESSIONS"}, server, system);
  EXPECT_EQ(system.err, "quillmarsh: unexpected failure: lost\n");
}

// An owner look-up that runs past "/SERVERTIMEOUT" leaves the owner
// unknown, and the command asks for no other owner after it. The look-up
// given up on never answers: it waits to the end of the process.
TEST(ProcessOwners, ALookUpPastTheServerTimeoutIsUnknownAndTheLastAsked) {
  auto server = std::make_shared<testing::NiceMock<MockTerminalServer>>();
  testing::Mock::AllowLeak(server.get());
  auto calls = std::make_shared<std::atomic<int>>(0);
  ON_CALL(*server, LookupAccountOwner(testing::_, testing::_))
      .WillByDefault([calls](const char16_t*, void*) -> std::optional<std::u16string> {
        ++*calls;
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
      });
  CapturingSystem system;
  State state({"quillmarsh"}, server, system);
  state.ServerTimeoutSeconds = 1;
  sessions::ProcessOwners owners(state);
  uint8_t first[12] = {1, 1, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
  uint8_t second[12] = {1, 1, 0, 0, 0, 0, 0, 5, 22, 0, 0, 0};
  EXPECT_FALSE(owners.Of(first).has_value());
  EXPECT_FALSE(owners.Of(second).has_value());
  EXPECT_EQ(*calls, 1);
}

}  // namespace
}  // namespace quillmarsh::test
