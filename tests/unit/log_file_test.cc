#include "log/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "log_test_support.h"

namespace quillmarsh::test {
namespace {

using log::LogFile;

constexpr int64_t kSmallKb = 20;  // the smallest limit: 20480 bytes
const std::string kStamp = "09-03-2024 07:05:04.032";

std::string StartLine(const std::string& name, uint64_t offset, uint32_t session = 7) {
  return kStamp + " Log Started: " + name +
         " [UTC:09-03-2024 06:05:04][PID:" + std::to_string(getpid()) +
         "][Session:" + std::to_string(session) + "] " + std::to_string(offset);
}

std::string Header(uint64_t offset) { return log::LogHeader(offset); }

class LogFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<LogFile> Open(int64_t max_kb = kSmallKb) {
    return std::make_unique<LogFile>(system, U16(path), max_kb, 7);
  }
  std::string Bytes() { return ReadBytes(path); }

  ScratchDirectory scratch;
  LogTestSystem system;
  std::string path = scratch.File("quillmarsh.utf8.log");
};

TEST(LogName, DotUtf8GoesBeforeAFinalDotLog) {
  EXPECT_EQ(log::NormaliseLogName(u"/tmp/quillmarsh.log"), u"/tmp/quillmarsh.utf8.log");
  EXPECT_EQ(log::NormaliseLogName(u"C:\\T\\App.LoG"), u"C:\\T\\App.utf8.LoG");
  EXPECT_EQ(log::NormaliseLogName(u"a.log"), u"a.utf8.log");
  EXPECT_EQ(log::NormaliseLogName(u"/tmp/quillmarsh.UTF8.Log"), u"/tmp/quillmarsh.UTF8.Log");
  EXPECT_EQ(log::NormaliseLogName(u"/tmp/quillmarsh.txt"), u"/tmp/quillmarsh.txt");
  EXPECT_EQ(log::NormaliseLogName(u"/tmp/quillmarsh.log.1"), u"/tmp/quillmarsh.log.1");
  EXPECT_EQ(log::NormaliseLogName(u".log"), u".log");
}

TEST(LogName, MaximumSizeInKilobytes) {
  EXPECT_EQ(log::LogMaxSizeBytes(200), 204800u);
  EXPECT_EQ(log::LogMaxSizeBytes(20), 20480u);
  EXPECT_EQ(log::LogMaxSizeBytes(1024000), 1048576000u);
  for (int64_t other : {19, 1024001, 0, -200}) {
    EXPECT_EQ(log::LogMaxSizeBytes(other), 10485760u) << other;
  }
}

TEST_F(LogFileTest, NewFileHasTheHeaderAndTheStartLine) {
  path = scratch.File("made/on/demand/quillmarsh.log");
  auto file = Open();
  ASSERT_TRUE(file->Opened());
  const std::string stored = scratch.File("made/on/demand/quillmarsh.utf8.log");
  EXPECT_EQ(platform::Utf16ToUtf8(file->Name()), stored);
  const std::string start = StartLine(stored, 16) + "\r\n";
  // The start line is on disk at once; the header follows with the first batch.
  EXPECT_EQ(ReadBytes(stored), "\xEF\xBB\xBF         16\r\n" + start);
  file->Close();
  const std::string stop = kStamp + " Log stopped\r\n";
  EXPECT_EQ(ReadBytes(stored), Header(16 + start.size() + stop.size()) + start + stop);
}

TEST_F(LogFileTest, ASecondRunAppendsAfterTheFirstRunsStopLine) {
  Open()->Close();
  const std::string first = Bytes();
  system.local.Second = 9;
  auto file = Open();
  file->WriteLine(u"second run");
  file->Close();
  const std::vector<std::string> lines = LogLines(Bytes());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], kStamp + " Log stopped");
  EXPECT_EQ(lines[2], "09-03-2024 07:05:09.032 Log Started: " + path +
                          " [UTC:09-03-2024 06:05:04][PID:" + std::to_string(getpid()) +
                          "][Session:7] " + std::to_string(first.size()));
  EXPECT_EQ(lines[3], "second run");
  EXPECT_EQ(Bytes().compare(16, first.size() - 16, first, 16), 0);
}

TEST_F(LogFileTest, ALineThatWouldReachTheMaximumGoesToTheStart) {
  auto file = Open();
  file->WriteLine(U16(std::string(20480 - 50 - file->Offset() - 2, 'f')));
  ASSERT_EQ(file->Offset(), 20430u);
  file->WriteLine(U16(std::string(47, 'k')));  // ends at 20479: still fits
  ASSERT_EQ(file->Offset(), 20479u);
  file->WriteHeader();
  const std::string before = Bytes();
  file->WriteLine(u"n");  // would end at 20482
  EXPECT_EQ(file->Offset(), 19u);
  file->WriteLine(U16(std::string(98, 'o')));
  file->WriteHeader();
  const std::string bytes = Bytes();
  EXPECT_EQ(bytes.size(), 20479u);
  EXPECT_EQ(HeaderOffset(bytes), 119);
  EXPECT_EQ(bytes.substr(16, 103), "n\r\n" + std::string(98, 'o') + "\r\n");
  // Older text stays after the newest line.
  EXPECT_EQ(bytes.substr(119), before.substr(119));
  EXPECT_TRUE(bytes.ends_with(std::string(47, 'k') + "\r\n"));
}

TEST_F(LogFileTest, ManyRunsNeverPassTheLimit) {
  for (int run = 0; run < 300; ++run) {
    auto file = Open();
    ASSERT_TRUE(file->Opened());
    for (int i = 0; i < 5; ++i) file->WriteLine(U16("line " + std::to_string(run * 5 + i)));
    file->Close();
    ASSERT_LT(Bytes().size(), 20480u) << run;
  }
  const std::string bytes = Bytes();
  const long offset = HeaderOffset(bytes);
  // The newest lines end just before the offset.
  const std::string tail = kStamp + " Log stopped\r\n";
  EXPECT_EQ(bytes.compare(offset - tail.size(), tail.size(), tail), 0);
  EXPECT_NE(bytes.rfind("line 1499\r\n" + tail, offset), std::string::npos);
}

struct BadHeader {
  const char* name;
  std::string header;
};

void PrintTo(const BadHeader& bad, std::ostream* out) { *out << bad.name; }

class LogFileHeaderTest : public LogFileTest, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(LogFileHeaderTest, StartsAtSixteen) {
  WriteBytes(path, GetParam().header + std::string(200, 'x'));
  auto file = Open();
  file->WriteHeader();
  const std::string bytes = Bytes();
  EXPECT_EQ(HeaderOffset(bytes), static_cast<long>(16 + StartLine(path, 16).size() + 2));
  EXPECT_EQ(bytes.substr(16, StartLine(path, 16).size()), StartLine(path, 16));
}

INSTANTIATE_TEST_SUITE_P(LogFile, LogFileHeaderTest,
                         ::testing::Values(BadHeader{"NoMark", "ABC        100\r\n"},
                                           BadHeader{"NoNumber", "\xEF\xBB\xBF        abc\r\n"},
                                           BadHeader{"Blank", "\xEF\xBB\xBF           \r\n"},
                                           BadHeader{"BelowSixteen", "\xEF\xBB\xBF          9\r\n"},
                                           BadHeader{"Negative", "\xEF\xBB\xBF        -50\r\n"},
                                           BadHeader{"BeyondMaximum",
                                                     "\xEF\xBB\xBF      20481\r\n"},
                                           BadHeader{"OneThenText", "\xEF\xBB\xBF  1"}),
                         [](const auto& param_info) { return param_info.param.name; });

TEST_F(LogFileTest, AnEmptyFileStartsAtSixteen) {
  WriteBytes(path, "");
  auto file = Open();
  file->WriteHeader();
  EXPECT_EQ(LogLines(Bytes()), std::vector<std::string>{StartLine(path, 16)});
}

TEST_F(LogFileTest, HeaderNumberEndsAtTheFirstNonDigit) {
  WriteBytes(path, "\xEF\xBB\xBF\t 120x99 \r\n" + std::string(200, 'x'));
  auto file = Open();
  EXPECT_EQ(file->Offset(), 120 + StartLine(path, 120).size() + 2);
}

TEST_F(LogFileTest, OffsetAtTheMaximumIsKept) {
  WriteBytes(path, Header(20480) + std::string(20480 - 16, 'x'));
  auto file = Open();
  // The start line cannot go at 20480, so it goes to the start.
  EXPECT_EQ(file->Offset(), 16 + StartLine(path, 20480).size() + 2);
}

TEST_F(LogFileTest, FileFromALargerLimitIsCutToTheMaximum) {
  WriteBytes(path, Header(25000) + std::string(30000 - 16, 'x'));
  auto file = Open();
  EXPECT_EQ(Bytes().size(), 20480u);
  EXPECT_EQ(Bytes().substr(16, StartLine(path, 16).size()), StartLine(path, 16));
}

TEST_F(LogFileTest, FileBeyondTheMaximumIsCutEvenWithAValidOffset) {
  WriteBytes(path, Header(100) + std::string(30000 - 16, 'x'));
  auto file = Open();
  EXPECT_EQ(Bytes().size(), 20480u);
  EXPECT_EQ(Bytes().substr(100, StartLine(path, 100).size()), StartLine(path, 100));
}

TEST_F(LogFileTest, ABatchOfLinesIsOneWritePlusTheHeader) {
  auto file = Open();
  const uint64_t start = file->Offset();
  system.ClearCalls();
  for (int i = 0; i < 50; ++i) file->WriteLine(u"0123456789");
  EXPECT_TRUE(system.Calls().empty());
  file->WriteHeader();
  EXPECT_EQ(system.Calls(), (std::vector<std::string>{"WriteAt " + std::to_string(start) + " 600",
                                                      "WriteAt 0 16"}));
}

TEST_F(LogFileTest, ABatchThatWrapsIsTwoWritesPlusTheHeader) {
  auto file = Open();
  file->WriteLine(U16(std::string(20480 - file->Offset() - 2 - 300, 'f')));
  file->WriteHeader();
  system.ClearCalls();
  for (int i = 0; i < 5; ++i) file->WriteLine(U16(std::string(98, 'a' + i)));
  file->WriteHeader();
  EXPECT_EQ(system.Calls(),
            (std::vector<std::string>{"WriteAt 20180 200", "WriteAt 16 300", "WriteAt 0 16"}));
}

TEST_F(LogFileTest, AnUnopenedFileWritesNothing) {
  path = "/dev/null/quillmarsh.log";
  auto file = Open();
  EXPECT_FALSE(file->Opened());
  file->WriteLine(u"lost");
  file->WriteHeader();
  file->Close();
  EXPECT_TRUE(system.Calls().empty());
}

}  // namespace
}  // namespace quillmarsh::test
