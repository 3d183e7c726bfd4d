#include "machine/sleep.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/program.h"
#include "simulated/simulated_server.h"
#include "test_support.h"

namespace quillmarsh::test {
namespace {

const std::string kWrong = "Wrong or unknown command. Type /?  for information";
const std::string kServer = R"({"virtual_sleep":true})";
const std::string kSleep = R"({"call":"Sleep","ms":1000,"ok":true})";

std::string SleepLines(uint32_t seconds) {
  return Lines({"Sleep: " + std::to_string(seconds), std::string(seconds, '.')});
}

// The "Sleep: " lines of a run, as numbers.
std::vector<uint32_t> Durations(const std::string& out) {
  std::vector<uint32_t> durations;
  for (size_t at = out.find("Sleep: "); at != std::string::npos; at = out.find("Sleep: ", at + 1)) {
    durations.push_back(static_cast<uint32_t>(std::stoul(out.substr(at + 7))));
  }
  return durations;
}

TEST(Sleep, OneDotPerSecondEachShownBeforeItsWait) {
  CapturingSystem system;
  std::vector<std::string> seen_at_wait;
  std::vector<int> flushes_at_wait;
  std::string error;
  // The journal sink sees the console as it stands when each wait starts.
  auto server = simulated::CreateSimulatedServer(
      kServer,
      [&](const std::string&) {
        seen_at_wait.push_back(system.out);
        flushes_at_wait.push_back(system.flushes);
      },
      "tester", &error);
  ASSERT_NE(server, nullptr) << error;
  const int exit_code = RunProgram({"quillmarsh", "/SLEEP", "3", "/NOTME"}, *server, system);
  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(system.out, SleepLines(3));
  EXPECT_EQ(seen_at_wait,
            (std::vector<std::string>{"Sleep: 3\r\n.", "Sleep: 3\r\n..", "Sleep: 3\r\n..."}));
  EXPECT_EQ(flushes_at_wait, (std::vector<int>{1, 2, 3}));
}

TEST(Sleep, OperandIsTrimmedAndConverted) {
  RunResult run = RunQuillmarsh(kServer, {"/SLEEP", " \t2 "});
  EXPECT_EQ(run.out, SleepLines(2));
  EXPECT_EQ(run.journal, std::vector<std::string>(2, kSleep));
  EXPECT_EQ(RunQuillmarsh(kServer, {"/sleep", "$3"}).out, SleepLines(3));
}

TEST(Sleep, OneDayIsTheLongest) {
  RunResult run = RunQuillmarsh(kServer, {"/SLEEP", "86400"});
  EXPECT_EQ(run.out, SleepLines(86400));
  EXPECT_EQ(run.journal.size(), 86400u);
}

TEST(Sleep, InvalidDurationStopsProcessing) {
  const std::vector<std::vector<std::string>> cases = {
      {"/SLEEP", "0", "/LOGOFFME"},
      {"/SLEEP", "abc", "/LOGOFFME"},
      {"/SLEEP", "-5", "/LOGOFFME"},
      {"/SLEEP", "86401", "/LOGOFFME"},
      {"/SLEEP", "4294967295"},
      {"/SLEEP", "", "/LOGOFFME"},
      {"/SLEEP"},
      {"/SLEEP", "/REBOOT"},
      {"/SLEEP", "0", "0", "/LOGOFFME"},
      {"/SLEEP", "abc", "x", "/LOGOFFME"},
  };
  const std::string administrator = R"({"token":{"process":{"groups":["S-1-5-32-544"]}}})";
  for (const auto& arguments : cases) {
    RunResult run = RunQuillmarsh(administrator, arguments);
    EXPECT_EQ(run.out, BannerBlock() + Lines({kWrong})) << arguments[1 % arguments.size()];
    EXPECT_TRUE(run.journal.empty()) << arguments[1 % arguments.size()];
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST(Sleep, RangeOperandOnlyWhenItIsNoCommandWord) {
  // A command word after the seconds is the next command.
  RunResult run = RunQuillmarsh(kServer, {"/SLEEP", "2", "/LOGOFFME"});
  EXPECT_EQ(run.out, SleepLines(2) + Lines({"/LOGOFFME"}));
  EXPECT_EQ(run.calls,
            (std::vector<std::string>{"Sleep", "Sleep", "AdjustTokenPrivileges", "ExitWindowsEx"}));
  // A non-numeric range is consumed and adds nothing.
  EXPECT_EQ(RunQuillmarsh(kServer, {"/SLEEP", "2", "x", "/NOTME"}).out, SleepLines(2));
  // An empty argument is not a range: it is left to the loop, which rejects it.
  EXPECT_EQ(RunQuillmarsh(kServer, {"/SLEEP", "2", "", "/NOTME"}).out,
            SleepLines(2) + BannerBlock() + Lines({kWrong}));
}

TEST(Sleep, RandomExtraContinuesTheGeneratorAcrossCommands) {
  // Seed 1039 draws 1 below 3, 0 below 5, 7 below 10, 1 below 5 and 556
  // below 1000; a generator restarted per command would draw 1 below 5 and 8
  // below 10 instead.
  const std::string seeded = R"({"virtual_sleep":true,"utc_ms_of_day":1039})";
  RunResult run = RunQuillmarsh(seeded, {"/SLEEP", "5", "3",     // 5 + 1
                                         "/SLEEP", "0", "5",     // 0 + 0, at least 1
                                         "/SLEEP", "abc", "10",  // 0 + 7
                                         "/SLEEP", "-1", "5",    // wraps to 0, so 1
                                         "/SLEEP", "86000", "1000", "/NOTME"});  // capped
  EXPECT_EQ(Durations(run.out), (std::vector<uint32_t>{6, 1, 7, 1, 86400}));
  EXPECT_EQ(run.journal.size(), 6u + 1 + 7 + 1 + 86400);
  EXPECT_TRUE(run.out.starts_with(SleepLines(6) + SleepLines(1) + SleepLines(7) + SleepLines(1) +
                                  "Sleep: 86400\r\n"));

  // Another seed: 45296789 draws 1 below 3.
  EXPECT_EQ(
      RunQuillmarsh(R"({"virtual_sleep":true,"utc_ms_of_day":45296789})", {"/SLEEP", "5", "3"}).out,
      SleepLines(6));
}

}  // namespace
}  // namespace quillmarsh::test
