// The log as the program opens and closes it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "log_test_support.h"

namespace quillmarsh::test {
namespace {

const std::string kWrong = "Wrong or unknown command. Type /?  for information";

std::string Masked(std::string line) {
  if (line.size() >= 23 && line[2] == '-' && line[5] == '-') line.replace(0, 23, "T");
  return line;
}

TEST(LogProgram, RecordsEveryCommandAndTheWrongOne) {
  ScratchDirectory scratch;
  RunResult run = RunQuillmarsh("{\"own_session\": 4}", {"/NOTME", "/LOGFILE", "/what"},
                                scratch.path().string() + "/");
  EXPECT_EQ(run.out, BannerBlock() + Lines({kWrong}));
  std::vector<std::string> lines = LogLines(ReadBytes(scratch.File("quillmarsh.utf8.log")));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].ends_with("][Session:4] 16")) << lines[0];
  EXPECT_EQ(Masked(lines[1]), "T|I|not applying session: #4");
  EXPECT_EQ(Masked(lines[2]), "T|E|" + kWrong);
  EXPECT_EQ(Masked(lines[3]), "T|I|Wait(mSec): 0");
  EXPECT_EQ(Masked(lines[4]).rfind("T|I|CNTin1GO: ", 0), 0u);
  EXPECT_EQ(Masked(lines[5]), "T Log stopped");
}

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
