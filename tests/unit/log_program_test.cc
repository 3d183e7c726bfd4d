// The log as the program opens it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "driver/program.h"
#include "log_test_support.h"
#include "mock_terminal_server.h"

namespace quillmarsh::test {
namespace {

const std::string kWrong = "Wrong or unknown command. Type /?  for information";

TEST(LogProgram, APlantedLinkMeansARunWithoutALog) {
  ScratchDirectory scratch;
  const std::string target = scratch.File("elsewhere");
  WriteBytes(target, "keep");
  ASSERT_EQ(symlink(target.c_str(), scratch.File("quillmarsh.utf8.log").c_str()), 0);
  RunResult run =
      RunQuillmarsh("{\"own_session\": 4}", {"/LOGFILE", "/what"}, scratch.path().string() + "/");
  EXPECT_EQ(run.out, BannerBlock() + Lines({kWrong}));
  EXPECT_EQ(ReadBytes(target), "keep");
}

// A system whose session ends when the test says so.
class EndingSystem : public CapturingSystem {
 public:
  using CapturingSystem::CapturingSystem;
  std::unique_ptr<platform::EndOfSessionHandler> InstallEndOfSessionHandler(
      std::function<void()> session_ended, std::function<void()> close_log) override {
    end_session = [session_ended = std::move(session_ended), close_log = std::move(close_log)] {
      session_ended();
      close_log();
    };
    return std::make_unique<platform::EndOfSessionHandler>();
  }
  std::function<void()> end_session;
};

TEST(LogProgram, NothingStartsAfterTheSessionEnded) {
  using ::testing::_;
  ScratchDirectory scratch;
  EndingSystem system(scratch.path().string() + "/");
  ::testing::NiceMock<MockTerminalServer> server;
  // The session ends during the first second of the sleep.
  EXPECT_CALL(server, Sleep(1000)).WillOnce([&system](uint32_t) { system.end_session(); });
  EXPECT_CALL(server, WTSEnumerateSessionsA(_, _, _, _, _)).Times(0);
  EXPECT_CALL(server, WTSLogoffSession(_, _, _)).Times(0);
  RunProgram({"quillmarsh", "/LOGFILE", "/SLEEP", "30", "/LOGOFF", "*ALL"}, server, system);
  const std::vector<std::string> lines = LogLines(ReadBytes(scratch.File("quillmarsh.utf8.log")));
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().ends_with(" Log stopped")) << lines.back();
}

}  // namespace
}  // namespace quillmarsh::test
