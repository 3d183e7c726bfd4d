#include "log/log_format.h"

#include <gtest/gtest.h>

#include "log/log_time.h"
#include "log_test_support.h"

namespace quillmarsh::test {
namespace {

using log::LogKind;

const std::string kBlanks(23, ' ');

// A formatter whose lines are collected as UTF-8, with stamps "S1", "S2", ...
// (padded to the real stamp's 23 characters so the layout shows).
class Formatter {
 public:
  Formatter() : formatter_([this](std::u16string line) { lines.push_back(Utf8(line)); }) {}

  std::string Info(const std::string& text) { return Message(LogKind::kInformation, text); }
  std::string Error(const std::string& text) { return Message(LogKind::kError, text); }
  void Flush() { formatter_.FlushSummaries(); }

  static std::string Stamp(int number) {
    std::string stamp = "S" + std::to_string(number);
    return stamp + std::string(23 - stamp.size(), '_');
  }

  std::vector<std::string> lines;

 private:
  static std::string Utf8(std::u16string_view text) { return platform::Utf16ToUtf8(text); }
  std::string Message(LogKind kind, const std::string& text) {
    return Utf8(formatter_.Message(kind, U16(text), U16(Stamp(++messages_))));
  }

  log::LogFormatter formatter_;
  int messages_ = 0;
};

std::string S(int number) { return Formatter::Stamp(number); }

TEST(LogFormat, BeginAndEndStandAtTheSameDepth) {
  Formatter f;
  f.Info("Begin Message");
  f.Info("Counted: 3");
  f.Info("End Message");
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|I|Begin Message", S(2) + "|I|.Counted: 3",
                                               S(3) + "|I|End Message"}));
}

TEST(LogFormat, NestingInAnyCaseAndAfterABar) {
  Formatter f;
  f.Info("begin outer");
  f.Error("x|Begin inner");
  f.Info("deep");
  f.Info("end inner");
  f.Error("y|END outer");
  f.Info("flat");
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|I|begin outer", S(2) + "|E|.x|Begin inner",
                                               S(3) + "|I|..deep", S(4) + "|I|.end inner",
                                               S(5) + "|E|y|END outer", S(6) + "|I|flat"}));
}

TEST(LogFormat, BeginAndEndOnlyAtTheStartOrAfterABar) {
  Formatter f;
  f.Info("no Begin here");
  f.Info("nor End here");
  f.Info("Ending is an end");
  f.Info("x");
  EXPECT_EQ(f.lines.back(), S(4) + "|I|x");
  EXPECT_EQ(f.lines[2], S(3) + "|I|Ending is an end");
}

TEST(LogFormat, IndentStaysBetweenZeroAndTen) {
  Formatter f;
  f.Info("End without a begin");
  for (int i = 0; i < 12; ++i) f.Info("Begin " + std::to_string(i));
  f.Info("deepest");
  f.Info("End 11");
  f.Info("after");
  EXPECT_EQ(f.lines[0], S(1) + "|I|End without a begin");
  EXPECT_EQ(f.lines[12], S(13) + "|I|" + std::string(10, '.') + "Begin 11");
  EXPECT_EQ(f.lines[13], S(14) + "|I|" + std::string(10, '.') + "deepest");
  EXPECT_EQ(f.lines[14], S(15) + "|I|" + std::string(9, '.') + "End 11");
  EXPECT_EQ(f.lines[15], S(16) + "|I|" + std::string(9, '.') + "after");
}

TEST(LogFormat, RepeatsCollapseIntoASummaryWithTheLastRepeatsStamp) {
  Formatter f;
  f.Info("Begin Scan");
  f.Info("same");
  f.Info("same");
  f.Info("same");
  f.Info("other");
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|I|Begin Scan", S(2) + "|I|.same",
                                               S(4) + "|I|.same [3x]", S(5) + "|I|.other"}));
}

TEST(LogFormat, PendingSummariesAreWrittenInformationFirst) {
  Formatter f;
  f.Error("bad");
  f.Error("bad");
  f.Info("note");
  f.Info("note");
  f.Flush();
  f.Flush();
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|E|bad", S(2) + "|E|bad [2x]",
                                               S(3) + "|I|note", S(4) + "|I|note [2x]"}));
}

TEST(LogFormat, AMessageOfTheOtherKindEndsARepeat) {
  Formatter f;
  f.Info("a");
  f.Info("a");
  f.Error("e");
  f.Info("a");
  f.Error("e");
  f.Flush();
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|I|a", S(2) + "|I|a [2x]", S(3) + "|E|e",
                                               S(4) + "|I|a", S(5) + "|E|e"}));
}

TEST(LogFormat, RepeatsAreExactAndCaseSensitive) {
  Formatter f;
  f.Info("Same");
  f.Info("same");
  f.Info("same ");
  f.Flush();
  EXPECT_EQ(f.lines.size(), 3u);
}

TEST(LogFormat, SummaryKeepsTheFirst210CharactersOfALongText) {
  const std::string long_text = std::string(210, 'a') + "bcdef";
  const std::string short_text(209, 'z');
  Formatter f;
  f.Info(long_text);
  f.Info(long_text);
  f.Info(short_text);
  f.Info(short_text);
  f.Flush();
  ASSERT_EQ(f.lines.size(), 4u);
  EXPECT_EQ(f.lines[1], S(2) + "|I|" + std::string(210, 'a') + " [2x]");
  EXPECT_EQ(f.lines[3], S(4) + "|I|" + short_text + " [2x]");
}

TEST(LogFormat, SummaryOfAMultiLineTextIsItsFirstLine) {
  Formatter f;
  f.Error("first\r\nsecond");
  f.Error("first\r\nsecond");
  f.Flush();
  ASSERT_EQ(f.lines.size(), 3u);
  EXPECT_EQ(f.lines[2], S(2) + "|E|first [2x]");
}

TEST(LogFormat, EmptyTextDoesNothingAtAll) {
  Formatter f;
  f.Info("x");
  f.Info("x");
  EXPECT_EQ(f.Info(""), "");
  EXPECT_EQ(f.Error(""), "");
  f.Info("x");
  f.Flush();
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|I|x", S(5) + "|I|x [3x]"}));
}

TEST(LogFormat, LongTextSplitsAt220Characters) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += static_cast<char>('a' + i % 26);
  Formatter f;
  f.Info("Begin");
  f.Info(text);
  ASSERT_EQ(f.lines.size(), 4u);
  EXPECT_EQ(f.lines[1], S(2) + "|I|." + text.substr(0, 220));
  EXPECT_EQ(f.lines[2], kBlanks + "|I|." + text.substr(220, 220));
  EXPECT_EQ(f.lines[3], kBlanks + "|I|." + text.substr(440));
  EXPECT_EQ(text.substr(440).size(), 60u);
}

TEST(LogFormat, SplitsAtCrLfAndSkipsEmptyPieces) {
  Formatter f;
  f.Error("one\r\ntwo");
  f.Error("three\r\n\r\nfour\r\n");
  f.Info("\r\nlead");
  f.Info("a\rb\nc");
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|E|one", kBlanks + "|E|two",
                                               S(2) + "|E|three", kBlanks + "|E|four",
                                               kBlanks + "|I|lead", S(4) + "|I|a\rb\nc"}));
}

TEST(LogFormat, LineBreakBeyond220CharactersCutsFirst) {
  Formatter f;
  f.Info(std::string(230, 'x') + "\r\ny");
  f.Info(std::string(220, 'w') + "\r\nv");
  f.Info(std::string(219, 'u') + "\r\nt");
  EXPECT_EQ(f.lines,
            (std::vector<std::string>{S(1) + "|I|" + std::string(220, 'x'),
                                      kBlanks + "|I|" + std::string(10, 'x'), kBlanks + "|I|y",
                                      S(2) + "|I|" + std::string(220, 'w'), kBlanks + "|I|v",
                                      S(3) + "|I|" + std::string(219, 'u'), kBlanks + "|I|t"}));
}

TEST(LogFormat, ReturnsTheFirstLineWithTheIndentBeforeTheMessage) {
  Formatter f;
  f.Info("Begin");
  EXPECT_EQ(f.Info(std::string(300, 'r')), S(2) + "|I|." + std::string(220, 'r'));
  EXPECT_EQ(f.Info("End"), S(3) + "|I|.End");
  EXPECT_EQ(f.Error("End"), S(4) + "|E|End");
  EXPECT_EQ(f.Error("End"), S(5) + "|E|End");
}

TEST(LogFormat, ACharacterIsNeverCutInTwo) {
  const std::string face = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16
  Formatter f;
  f.Info(std::string(219, 'x') + face + "y");
  EXPECT_EQ(f.lines, (std::vector<std::string>{S(1) + "|I|" + std::string(219, 'x'),
                                               kBlanks + "|I|" + face + "y"}));
}

TEST(LogTime, TimeTextsAreZeroPadded) {
  const platform::CalendarTime time{2024, 3, 9, 7, 5, 4, 32};
  EXPECT_EQ(log::TimeStamp(time), u"09-03-2024 07:05:04.032");
  EXPECT_EQ(log::ShortDateTime(time), u"09-03-2024 07:05:04");
  EXPECT_EQ(log::TimeOfDay(time), u"07:05:04.032");
  EXPECT_EQ(log::TimeStamp({999, 12, 31, 23, 59, 59, 999}), u"31-12-0999 23:59:59.999");
}

}  // namespace
}  // namespace quillmarsh::test
