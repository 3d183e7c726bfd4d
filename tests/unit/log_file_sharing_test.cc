// The log file lives in a directory that every account shares: what the
// writer refuses to open there, and how two writers of one file keep apart.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "log/log_file.h"
#include "log_test_support.h"

namespace quillmarsh::test {
namespace {

using log::LogFile;

class LogFileSharingTest : public ::testing::Test {
 protected:
  bool Opens() { return LogFile(system, U16(path), 20, 1).Opened(); }

  ScratchDirectory scratch;
  std::unique_ptr<platform::System> system_owner = platform::CreateSystem();
  platform::System& system = *system_owner;
  std::string path = scratch.File("quillmarsh.utf8.log");
  std::string target = scratch.File("target");
};

TEST_F(LogFileSharingTest, ASymbolicLinkIsNotFollowed) {
  WriteBytes(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  EXPECT_FALSE(Opens());
  EXPECT_EQ(ReadBytes(target), "precious");
}

TEST_F(LogFileSharingTest, ADanglingSymbolicLinkCreatesNothing) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  EXPECT_FALSE(Opens());
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(LogFileSharingTest, AFileWithASecondNameIsNotWritten) {
  WriteBytes(target, "precious");
  ASSERT_EQ(link(target.c_str(), path.c_str()), 0);
  EXPECT_FALSE(Opens());
  EXPECT_EQ(ReadBytes(target), "precious");
}

TEST_F(LogFileSharingTest, AFileOfAnotherAccountIsNotWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
  WriteBytes(path, "foreign");
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(Opens());
  EXPECT_EQ(ReadBytes(path), "foreign");
}

TEST_F(LogFileSharingTest, OnlyRegularFilesAreOpened) {
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(Opens());  // and does not hang
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  EXPECT_FALSE(Opens());
}

TEST_F(LogFileSharingTest, ANewFileIsPrivate) {
  ASSERT_TRUE(Opens());
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(LogFileSharingTest, ASecondWriterRunsWithoutTheFile) {
  auto first = std::make_unique<LogFile>(system, U16(path), 20, 1);
  ASSERT_TRUE(first->Opened());
  first->WriteLine(u"first");
  const std::string before = ReadBytes(path);
  EXPECT_FALSE(Opens());
  first->WriteLine(u"still first");
  first->Close();
  const std::vector<std::string> lines = LogLines(ReadBytes(path));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "first");
  EXPECT_EQ(lines[2], "still first");
  // Once the first has let go, the next writer appends.
  EXPECT_TRUE(Opens());
  EXPECT_EQ(LogLines(ReadBytes(path)).size(), 6u);
}

TEST_F(LogFileSharingTest, AWriterInAnotherProcessRunsWithoutTheFile) {
  auto first = std::make_unique<LogFile>(system, U16(path), 20, 1);
  ASSERT_TRUE(first->Opened());
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    auto other = platform::CreateSystem();
    _exit(LogFile(*other, U16(path), 20, 2).Opened() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process opened it";
  first->Close();
  EXPECT_EQ(LogLines(ReadBytes(path)).size(), 2u);
}

}  // namespace
}  // namespace quillmarsh::test
