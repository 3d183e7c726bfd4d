#include "machine/exit_windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

#include "driver/program.h"
#include "mock_terminal_server.h"
#include "test_support.h"

namespace quillmarsh::test {
namespace {

using platform::Handle;
using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrEq;
using ::testing::StrictMock;

const Handle kToken = reinterpret_cast<Handle>(0x4400);
constexpr uint32_t kAdjustAndQuery = 0x28;
constexpr uint32_t kReason = 0x80020004;

class RequestExitWindows : public ::testing::Test {
 protected:
  void ExpectOpen(bool ok) {
    EXPECT_CALL(server, OpenProcessToken(kAdjustAndQuery, _))
        .WillOnce([=](uint32_t, Handle* token) {
          *token = ok ? kToken : nullptr;
          return ok;
        });
  }
  void ExpectLookup(bool ok) {
    EXPECT_CALL(server, LookupPrivilegeValueA(nullptr, StrEq("SeShutdownPrivilege"), _))
        .WillOnce([=](const char*, const char*, platform::Luid* luid) {
          *luid = platform::Luid{19, 7};
          return ok;
        });
  }
  void ExpectAdjust() {
    EXPECT_CALL(server, AdjustTokenPrivileges(kToken, false, _, 16u, _, _))
        .WillOnce([](Handle, bool, const platform::TokenPrivileges* state, uint32_t,
                     platform::TokenPrivileges* previous, uint32_t* returned) {
          EXPECT_EQ(state->PrivilegeCount, 1u);
          EXPECT_EQ(state->PrivilegeLuid.LowPart, 19u);
          EXPECT_EQ(state->PrivilegeLuid.HighPart, 7);
          EXPECT_EQ(state->Attributes, 2u);
          EXPECT_NE(previous, nullptr);
          EXPECT_NE(returned, nullptr);
          return true;
        });
  }

  StrictMock<MockTerminalServer> server;
};

TEST_F(RequestExitWindows, EnablesTheShutdownPrivilegeThenAsks) {
  for (uint32_t flags : {6u, 12u, 0u}) {
    InSequence order;
    ExpectOpen(true);
    ExpectLookup(true);
    ExpectAdjust();
    EXPECT_CALL(server, CloseHandle(kToken)).WillOnce(Return(true));
    EXPECT_CALL(server, ExitWindowsEx(flags, kReason)).WillOnce(Return(true));
    EXPECT_EQ(machine::RequestExitWindows(server, flags), 0u);
    testing::Mock::VerifyAndClearExpectations(&server);
  }
}

TEST_F(RequestExitWindows, AsksEvenWhenThePrivilegeStepFails) {
  {
    InSequence order;
    ExpectOpen(false);
    EXPECT_CALL(server, ExitWindowsEx(6u, kReason)).WillOnce(Return(true));
    EXPECT_EQ(machine::RequestExitWindows(server, 6), 0u);
  }
  testing::Mock::VerifyAndClearExpectations(&server);
  {
    InSequence order;
    ExpectOpen(true);
    ExpectLookup(false);
    EXPECT_CALL(server, CloseHandle(kToken)).WillOnce(Return(true));
    EXPECT_CALL(server, ExitWindowsEx(12u, kReason)).WillOnce(Return(true));
    EXPECT_EQ(machine::RequestExitWindows(server, 12), 0u);
  }
  testing::Mock::VerifyAndClearExpectations(&server);
  {
    InSequence order;
    ExpectOpen(true);
    ExpectLookup(true);
    EXPECT_CALL(server, AdjustTokenPrivileges(kToken, _, _, _, _, _)).WillOnce([](auto...) -> bool {
      throw std::runtime_error("broken");
    });
    EXPECT_CALL(server, CloseHandle(kToken)).WillOnce(Return(true));
    EXPECT_CALL(server, ExitWindowsEx(0u, kReason)).WillOnce(Return(true));
    EXPECT_EQ(machine::RequestExitWindows(server, 0), 0u);
  }
}

TEST_F(RequestExitWindows, RefusalGivesTheErrorCodeAndNeverZero) {
  EXPECT_CALL(server, OpenProcessToken(_, _)).WillRepeatedly(Return(false));
  EXPECT_CALL(server, ExitWindowsEx(6u, kReason))
      .WillOnce(Return(false))
      .WillOnce(Return(false))
      .WillOnce([](uint32_t, uint32_t) -> bool { throw std::runtime_error("broken"); });
  EXPECT_CALL(server, GetLastError()).WillOnce(Return(1314)).WillOnce(Return(0));
  EXPECT_EQ(machine::RequestExitWindows(server, 6), 1314u);
  EXPECT_EQ(machine::RequestExitWindows(server, 6), 1u);
  EXPECT_EQ(machine::RequestExitWindows(server, 6), 1u);
}

TEST(ExitWindowsRequests, OneRowPerWordPlainFormsForceToo) {
  const auto rows = machine::ExitWindowsRequests();
  ASSERT_EQ(rows.size(), 5u);
  const struct {
    const char* word;
    bool check;
    uint32_t flags;
  } want[] = {{"/REBOOT", true, 6},
              {"/REBOOTFORCE", true, 6},
              {"/SHUTDOWN", true, 12},
              {"/SHUTDOWNFORCE", true, 12},
              {"/LOGOFFME", false, 0}};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].word, want[i].word);
    EXPECT_EQ(rows[i].administrator_check, want[i].check);
    EXPECT_EQ(rows[i].flags, want[i].flags);
  }
}

// ---- The commands, in-process over the simulated server -----------------

const std::string kAdministrator =
    R"({"user_name":"root","token":{"process":{"groups":["S-1-1-0","S-1-5-32-544"],)"
    R"("elevation_type":2}}})";
const std::string kStandardUser =
    R"({"user_name":"alice","token":{"process":{"groups":["S-1-1-0","S-1-5-32-545"]}},)"
    R"("virtual_sleep":true})";

std::string Privilege() {
  return R"({"call":"AdjustTokenPrivileges","privilege":"SeShutdownPrivilege",)"
         R"("attributes":2,"ok":true})";
}
std::string Exit(uint32_t flags) {
  return R"({"call":"ExitWindowsEx","flags":)" + std::to_string(flags) +
         R"(,"reason":2147614724,"ok":true})";
}
std::string Refusal(const std::string& user) {
  return BannerBlock() +
         Lines({"Cannot be done. User " + user + " has no (elevated) Administrator rights"});
}

TEST(MachineCommands, AdministratorRunsEachWordInAnyCase) {
  RunResult run = RunQuillmarsh(
      kAdministrator, {"/reboot", "/RebootForce", "/shutdown", "/SHUTDOWNFORCE", "/logoffme"});
  EXPECT_EQ(run.out,
            Lines({"/REBOOT", "/REBOOTFORCE", "/SHUTDOWN", "/SHUTDOWNFORCE", "/LOGOFFME"}));
  EXPECT_EQ(run.journal,
            (std::vector<std::string>{Privilege(), Exit(6), Privilege(), Exit(6), Privilege(),
                                      Exit(12), Privilege(), Exit(12), Privilege(), Exit(0)}));
  EXPECT_EQ(run.exit_code, 0);
}

TEST(MachineCommands, StandardUserIsRefusedButMayLogHimselfOff) {
  for (const char* word : {"/REBOOT", "/REBOOTFORCE", "/SHUTDOWN", "/SHUTDOWNFORCE"}) {
    RunResult run = RunQuillmarsh(kStandardUser, {word, "/LOGOFFME"});
    EXPECT_EQ(run.out, Refusal("alice") + Lines({"/LOGOFFME"})) << word;
    EXPECT_EQ(run.journal, (std::vector<std::string>{Privilege(), Exit(0)})) << word;
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST(MachineCommands, RefusalWithoutUserNameJoinsTheTexts) {
  for (const char* name : {R"("")", "null"}) {
    RunResult run = RunQuillmarsh(std::string(R"({"user_name":)") + name + "}", {"/SHUTDOWN"});
    EXPECT_EQ(run.out, Refusal("")) << name;
    EXPECT_TRUE(run.journal.empty());
  }
}

TEST(MachineCommands, ElevationMattersFromVersion6) {
  const std::string limited =
      R"({"user_name":"adm","os_major":%V,"token":{"process":{"groups":["S-1-5-32-544"],)"
      R"("elevation_type":3}}})";
  auto with_version = [&](const std::string& version) {
    std::string json = limited;
    json.replace(json.find("%V"), 2, version);
    return json;
  };
  EXPECT_EQ(RunQuillmarsh(with_version("6"), {"/REBOOT"}).out, Refusal("adm"));
  // Version 5 knows no elevation; NetWkstaGetInfo's answer wins over GetVersionExA's.
  EXPECT_EQ(RunQuillmarsh(with_version("5"), {"/REBOOT"}).out, Lines({"/REBOOT"}));
  std::string overridden = with_version("5");
  overridden.insert(1, R"("netwksta_major":10,)");
  EXPECT_EQ(RunQuillmarsh(overridden, {"/REBOOT"}).out, Refusal("adm"));
}

TEST(MachineCommands, ImpersonationDecidesMembership) {
  // The thread impersonates a standard user; the process is an elevated administrator.
  const std::string json = R"({"user_name":"svc","token":{"thread":{"groups":["S-1-5-32-545"]},)"
                           R"("process":{"groups":["S-1-5-32-544"],"elevation_type":2}}})";
  EXPECT_EQ(RunQuillmarsh(json, {"/REBOOT"}).out, Refusal("svc"));
  // And the other way round: membership from the thread, elevation from the process.
  const std::string reverse =
      R"({"token":{"thread":{"groups":["S-1-5-32-544"],"elevation_type":3},)"
      R"("process":{"groups":[],"elevation_type":1}}})";
  EXPECT_EQ(RunQuillmarsh(reverse, {"/REBOOT"}).out, Lines({"/REBOOT"}));
}

TEST(MachineCommands, GroupListBeyondTheLimitIsRefused) {
  const std::string json = R"({"user_name":"adm","token":{"process":{"groups":["S-1-5-32-544"],)"
                           R"("groups_bytes":%B}}})";
  auto with_bytes = [&](const std::string& bytes) {
    std::string text = json;
    text.replace(text.find("%B"), 2, bytes);
    return text;
  };
  EXPECT_EQ(RunQuillmarsh(with_bytes("10240001"), {"/REBOOT"}).out, Refusal("adm"));
  EXPECT_EQ(RunQuillmarsh(with_bytes("10240000"), {"/REBOOT"}).out, Lines({"/REBOOT"}));
  const std::string failing =
      R"({"user_name":"adm","token":{"process":{"groups":["S-1-5-32-544"],"groups_error":5}}})";
  EXPECT_EQ(RunQuillmarsh(failing, {"/REBOOT"}).out, Refusal("adm"));
}

TEST(MachineCommands, RefusedRequestIsReportedAndProcessingGoesOn) {
  const std::string refusing = R"({"exit_windows_error":1314,)" + kAdministrator.substr(1);
  RunResult run = RunQuillmarsh(refusing, {"/reboot", "/LOGOFFME"});
  EXPECT_EQ(run.out, Lines({"/REBOOT", "A required privilege is not held by the client [1314]",
                            "/LOGOFFME", "A required privilege is not held by the client [1314]"}));
  EXPECT_EQ(run.exit_code, 0);
  const std::string unknown = R"({"exit_windows_error":4242})";
  EXPECT_EQ(RunQuillmarsh(unknown, {"/LOGOFFME"}).out, Lines({"/LOGOFFME", " [4242]"}));
}

TEST(MachineCommands, RequestIsMadeWithoutThePrivilegeStep) {
  const std::string no_privilege =
      R"({"token":{"process":{"groups":["S-1-5-32-544"]},"shutdown_privilege":false}})";
  RunResult run = RunQuillmarsh(no_privilege, {"/SHUTDOWN"});
  EXPECT_EQ(run.out, Lines({"/SHUTDOWN"}));
  EXPECT_EQ(run.journal, std::vector<std::string>{Exit(12)});
  RunResult tokenless = RunQuillmarsh(R"({"token":{"process":null}})", {"/LOGOFFME"});
  EXPECT_EQ(tokenless.journal, std::vector<std::string>{Exit(0)});
}

TEST(MachineCommands, StandardUserShutdownThenSleep) {
  RunResult run = RunQuillmarsh(kStandardUser, {"/SHUTDOWN", "/SLEEP", "5"});
  EXPECT_EQ(run.out, Refusal("alice") + Lines({"Sleep: 5", "....."}));
  EXPECT_EQ(run.calls, std::vector<std::string>(5, "Sleep"));
  EXPECT_EQ(run.exit_code, 0);
}

// A logon-mode write given up on at "/SERVERTIMEOUT" may still reach the
// server: neither set (2) nor refused (1), and the run says so.
TEST(LogonMode, AWriteGivenUpOnIsAnUnknownOutcome) {
  auto server = std::make_shared<::testing::NiceMock<MockTerminalServer>>();
  // The write given up on keeps the server to the end of the process.
  ::testing::Mock::AllowLeak(server.get());
  ON_CALL(*server, WTSOpenServerA(_)).WillByDefault(Return(7));
  ON_CALL(*server, ReadLogonMode(_, _)).WillByDefault(Return(0));
  // It never answers: it waits to the end of the process.
  ON_CALL(*server, WriteLogonMode(_, _)).WillByDefault([](auto...) -> uint32_t {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  });
  CapturingSystem system;
  const int exit_code = RunProgram(
      {"quillmarsh", "/SERVERTIMEOUT", "1", "/SERVER", "ts02", "/LOGONS", "DRAIN"}, server, system);
  EXPECT_EQ(exit_code, 3);
  EXPECT_TRUE(system.out.ends_with(
      Lines({"Logons Not OK: DRAIN", " [1460]", "Outcome unknown: ts02 may still carry it out"})))
      << system.out;
}

// The remote request carries the code of "/REASON" too (the e2e cases pin
// ExitWindowsEx and the countdowns).
TEST(MachineCommands, ReasonReachesTheRemoteRequest) {
  RunResult run = RunQuillmarsh(R"({"servers":{"TS02":{}}})",
                                {"/REASON", "p:2:17", "/SERVER", "TS02", "/REBOOT"});
  ASSERT_EQ(run.calls.back(), "WTSCloseServer");
  const std::string& request = run.journal[run.journal.size() - 2];
  EXPECT_EQ(request.rfind(R"({"call":"InitiateShutdownA")", 0), 0u) << request;
  EXPECT_NE(request.find(R"("reason":2147614737)"), std::string::npos) << request;
}

}  // namespace
}  // namespace quillmarsh::test
