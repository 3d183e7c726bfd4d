#include "log/log_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <thread>

#include "log/log_queue.h"
#include "log_test_support.h"

namespace quillmarsh::test {
namespace {

using log::LogWriter;

const std::string kStamp = "09-03-2024 07:05:04.032";

class LogWriterTest : public ::testing::Test {
 protected:
  std::unique_ptr<LogWriter> Make(bool direct = false, int64_t max_kb = 200) {
    LogWriter::Options options;
    options.file_name = U16(scratch.File("quillmarsh.log"));
    options.max_size_kb = max_kb;
    options.direct = direct;
    options.own_session_id = 3;
    return std::make_unique<LogWriter>(
        system, [](uint32_t code) { return "Text of " + std::to_string(code); }, options);
  }
  std::vector<std::string> Lines() { return LogLines(ReadBytes(path)); }

  ScratchDirectory scratch;
  LogTestSystem system;
  std::string path = scratch.File("quillmarsh.utf8.log");
};

// The closing lines: wait total, batch statistics, log stop.
void ExpectClosingLines(const std::vector<std::string>& lines, size_t at, const std::string& wait) {
  ASSERT_EQ(lines.size(), at + 3);
  EXPECT_EQ(lines[at], kStamp + "|I|Wait(mSec): " + wait);
  EXPECT_TRUE(std::regex_match(
      lines[at + 1], std::regex(kStamp + "\\|I\\|CNTin1GO: [1-9]\\d* 09-03-2024 07:05:04")))
      << lines[at + 1];
  EXPECT_EQ(lines[at + 2], kStamp + " Log stopped");
}

TEST_F(LogWriterTest, WritesMessagesThenTheClosingLinesInOrder) {
  auto log = Make();
  ASSERT_TRUE(log->Opened());
  EXPECT_EQ(log->Info("Begin Message"), U16(kStamp + "|I|Begin Message"));
  log->Error("refused");
  log->Error("refused");
  log->Info("End Message");
  log->Close();
  EXPECT_FALSE(log->Opened());
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], kStamp + " Log Started: " + path + " [UTC:09-03-2024 06:05:04][PID:" +
                          std::to_string(getpid()) + "][Session:3] 16");
  EXPECT_EQ(lines[1], kStamp + "|I|Begin Message");
  EXPECT_EQ(lines[2], kStamp + "|E|.refused");
  EXPECT_EQ(lines[3], kStamp + "|E|.refused [2x]");
  EXPECT_EQ(lines[4], kStamp + "|I|End Message");
  ExpectClosingLines(lines, 5, "0");
}

TEST_F(LogWriterTest, CloseWritesThePendingSummariesFirst) {
  auto log = Make();
  log->Error("e");
  log->Info("i");
  log->Info("i");
  log->Info("i");
  log->Close();
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], kStamp + "|I|i [3x]");
  ExpectClosingLines(lines, 4, "0");
}

TEST_F(LogWriterTest, TheEventIsNamedAfterTheStoredFile) {
  auto log = Make();
  log->Close();
  const std::string name = log::LogEventName(system, U16(path));
  EXPECT_EQ(system.Calls()[0], "CreateEvent " + name);
  EXPECT_NE(std::find(system.Calls().begin(), system.Calls().end(), "OpenEvent " + name),
            system.Calls().end());
}

TEST_F(LogWriterTest, ALogThatCannotOpenWritesNothing) {
  LogWriter::Options options;
  options.file_name = u"/dev/null/quillmarsh.log";
  LogWriter log(
      system, [](uint32_t) { return std::string(); }, options);
  EXPECT_FALSE(log.Opened());
  EXPECT_EQ(log.Info("still formatted"), U16(kStamp + "|I|still formatted"));
  log.Close();
  for (const std::string& call : system.Calls()) {
    EXPECT_EQ(call.find("WriteAt"), std::string::npos) << call;
  }
}

TEST_F(LogWriterTest, DestroyingAnOpenWriterClosesIt) {
  Make()->Info("last words");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], kStamp + " Log stopped");
}

TEST_F(LogWriterTest, NoLineIsLostWhenTheDiskIsSlow) {
  auto log = Make(false, 1024000);
  // The disk stalls until the producer has filled the queue and waits for
  // space, and a little longer, so that the wait is measurable.
  system.HoldWrites();
  std::thread disk([this] {
    while (system.tick_count_reads == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    system.OpenWriteGate();
  });
  constexpr int kCount = 3000;
  for (int i = 0; i < kCount; ++i) log->Info("line " + std::to_string(i));
  disk.join();
  log->Close();
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), kCount + 4u);
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(lines[i + 1], kStamp + "|I|line " + std::to_string(i));
  }
  // The producer had to wait for space, and says how long.
  const std::string wait = lines[kCount + 1];
  ASSERT_EQ(wait.rfind(kStamp + "|I|Wait(mSec): ", 0), 0u);
  EXPECT_GT(std::stoul(wait.substr(kStamp.size() + 15)), 0u);
  EXPECT_EQ(lines[kCount + 2].rfind(kStamp + "|I|CNTin1GO: 99", 0), 0u) << lines[kCount + 2];
}

// The end of a session closes the log from another thread while the command
// thread waits with a message of five lines on a full queue: that message is
// finished first, later ones are dropped whole, and neither side hangs.
TEST_F(LogWriterTest, ACloseFromAnotherThreadKeepsEveryMessageWhole) {
  system.write_delay = std::chrono::milliseconds(20);
  auto log = Make(false, 1024000);
  std::atomic<bool> closed = false;
  std::thread command([&] {
    for (int i = 0; !closed; ++i) {
      std::string text = "m" + std::to_string(i);
      log->Info(text.append(5 * 220 - text.size(), 'x'));
    }
  });
  while (system.tick_count_reads == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  log->Close();
  closed = true;
  command.join();
  const std::vector<std::string> lines = Lines();
  ASSERT_GE(lines.size(), 4u + 5);
  const size_t messages = (lines.size() - 4) / 5;
  ASSERT_EQ(lines.size(), 4 + messages * 5);
  const std::string continued = std::string(23, ' ') + "|I|";
  for (size_t m = 0; m < messages; ++m) {
    ASSERT_EQ(lines[1 + m * 5].rfind(kStamp + "|I|m" + std::to_string(m) + "x", 0), 0u) << m;
    for (size_t k = 2; k <= 5; ++k) ASSERT_EQ(lines[m * 5 + k].rfind(continued, 0), 0u) << m;
  }
  EXPECT_TRUE(std::regex_match(lines[lines.size() - 3],
                               std::regex(kStamp + "\\|I\\|Wait\\(mSec\\): [1-9]\\d*")))
      << lines[lines.size() - 3];
  EXPECT_EQ(lines.back(), kStamp + " Log stopped");
}

TEST_F(LogWriterTest, LinesReachTheFileWhileTheLogIsOpen) {
  // Only the first line after an idle spell signals the thread; the lines
  // that follow while it writes must still reach the file without Close.
  auto log = Make();
  const auto written = [this](size_t count) {
    for (int tries = 0; tries < 200; ++tries) {
      if (Lines().size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  };
  log->Info("first");
  EXPECT_TRUE(written(2));
  for (int i = 0; i < 5000; ++i) log->Info("burst " + std::to_string(i));
  EXPECT_TRUE(written(5002));
  EXPECT_EQ(Lines().back(), kStamp + "|I|burst 4999");
  log->Close();
}

TEST(LogQueue, OnlyAPushIntoAnEmptyQueueAsksForASignal) {
  log::LogQueue queue;
  EXPECT_TRUE(queue.Push(u"a").was_empty);
  EXPECT_FALSE(queue.Push(u"b").was_empty);
  std::vector<std::u16string> lines;
  bool more = true;
  ASSERT_TRUE(queue.Take(true, &lines, &more));
  EXPECT_EQ(lines, (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_FALSE(more);
  const log::LogQueue::Pushed pushed = queue.Push(u"c");
  EXPECT_TRUE(pushed.was_empty);
  EXPECT_EQ(pushed.free_slots, 999u);
}

TEST_F(LogWriterTest, DirectModeWritesOnTheCallersThread) {
  auto log = Make(true);
  log->Info("at once");
  EXPECT_EQ(Lines(), (std::vector<std::string>{Lines()[0], kStamp + "|I|at once"}));
  log->Close();
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], kStamp + "|I|Wait(mSec): 0");
  EXPECT_EQ(lines[3], kStamp + " Log stopped");
  for (const std::string& call : system.Calls()) EXPECT_EQ(call.find("Event"), std::string::npos);
}

TEST_F(LogWriterTest, WithoutAnEventTheThreadPollsAndSaysWhy) {
  system.fail_events = true;
  auto log = Make();
  ASSERT_TRUE(log->Opened());
  for (int i = 0; i < 12; ++i) log->Info("poll " + std::to_string(i));
  // Wait for the thread's first report.
  const auto reported = [this] {
    const std::vector<std::string> lines = Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return line.starts_with("E|"); });
  };
  for (int tries = 0; tries < 300 && !reported(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  log->Close();
  const std::vector<std::string> lines = Lines();
  const std::string name = log::LogEventName(system, U16(path));
  const std::vector<std::string> calls = system.Calls();
  // One creation, then one retry per line, ten at most.
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateEvent " + name), 11);
  for (int i = 0; i < 12; ++i) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), kStamp + "|I|poll " + std::to_string(i)),
              lines.end());
  }
  const auto first = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string& line) { return line.starts_with("E|"); });
  ASSERT_NE(first, lines.end());
  EXPECT_EQ(*first, "E|07:05:04.032|dwRW : 0 Text of 0");
  EXPECT_EQ(*(first + 1), "E|07:05:04.032|dwRST: Text of 0");
  EXPECT_EQ(*(first + 2), "E|07:05:04.032|dwRW2: 0 Text of 2");
  EXPECT_EQ(lines.back(), kStamp + " Log stopped");
}

}  // namespace
}  // namespace quillmarsh::test
