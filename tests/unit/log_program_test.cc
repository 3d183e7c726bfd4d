// The log as the program opens it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "log_test_support.h"

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

}  // namespace
}  // namespace quillmarsh::test
