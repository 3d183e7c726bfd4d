#include <gtest/gtest.h>

#include "state/text.h"
#include "test_support.h"

namespace quillmarsh::test {
namespace {

const std::string kWrong = "Wrong or unknown command. Type /?  for information";

TEST(Driver, NoArgumentsPrintsTheUsageHint) {
  RunResult run = RunQuillmarsh("{}", {});
  EXPECT_EQ(run.out, BannerBlock() + Lines({"Type /?  for information"}));
  EXPECT_EQ(run.exit_code, 0);
}

TEST(Driver, UnknownWordPrintsTheWrongCommandMessage) {
  for (const char* word : {"/NOPE", "?", "x?", "/NOTME ", ""}) {
    RunResult run = RunQuillmarsh("{}", {word, "/NOTME"});
    EXPECT_EQ(run.out, BannerBlock() + Lines({kWrong})) << word;
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST(Driver, CommandWordsAndSwitchesInAnyCase) {
  RunResult run = RunQuillmarsh("{}", {"/notme", "/LogFile", "/NotMe"});
  EXPECT_EQ(run.out, "");
}

TEST(Driver, HelpAnywhereWinsAndRunsNothing) {
  RunResult run = RunQuillmarsh("{\"sessions\":[{\"id\":1,\"state\":\"Active\"}]}",
                                {"/NOTME", "/bogus", "/?"}, "/var/tmp/");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.journal.empty());
  ASSERT_EQ(run.out.rfind(BannerBlock() + Lines({"/?", "   Show this information"}), 0), 0u);
  size_t lines = 0;
  for (size_t at = run.out.find("\r\n"); at != std::string::npos;
       at = run.out.find("\r\n", at + 2)) {
    ++lines;
  }
  // The 134 lines, the 17 of "/server" and "/logoffdisconnected", the 5 of
  // "/servertimeout", the 27 of "#number", "/sessioninfo", "/csv",
  // "/idleminutes" and "/except", the 12 of the countdown commands, the 7
  // of "/whatif", the 8 of "/logons", the 17 of "/processes" and
  // "/endprocess", the 8 of "/connect" and the 21 of "/ask", "/waitempty"
  // and "/reason".
  EXPECT_EQ(lines, 134u + 17u + 5u + 27u + 12u + 7u + 8u + 17u + 8u + 21u);
  EXPECT_NE(run.out.find("\r\n   Current value: /var/tmp/\r\n\r\n/sleep X-seconds"),
            std::string::npos);
  EXPECT_EQ(run.out.find('\n', 0), run.out.find("\r\n") + 1);
  EXPECT_TRUE(run.out.ends_with("   example 2: domain\\user\r\n"));
}

TEST(Driver, HelpFallsBackWhenTheTempDirectoryIsTooLong) {
  RunResult run = RunQuillmarsh("{}", {"/?"}, std::string(1024, 'd'));
  EXPECT_NE(run.out.find("   Current value: c:\\windows\\temp\r\n"), std::string::npos);
}

TEST(Driver, StopsAfterOneHundredPasses) {
  std::vector<std::string> arguments(100, "/NOTME");
  arguments.push_back("/unknown");
  EXPECT_EQ(RunQuillmarsh("{}", arguments).out, "");
  arguments.erase(arguments.begin());
  EXPECT_EQ(RunQuillmarsh("{}", arguments).out, BannerBlock() + Lines({kWrong}));
}

TEST(Text, TrimRemovesControlCharactersAndBlanks) {
  EXPECT_EQ(Trim(std::string("\x01 \t a b \r\n\0", 11)), "a b");
  EXPECT_EQ(Trim("   "), "");
}

TEST(Text, UpperCasingChangesOnlyAsciiLetters) {
  EXPECT_EQ(UpperAscii("abz\xc3\xa9-*all"), "ABZ\xc3\xa9-*ALL");
}

TEST(Text, WholeNumberConversion) {
  EXPECT_EQ(ParseWholeNumber(" 30 "), 30u);
  EXPECT_EQ(ParseWholeNumber("-1"), 4294967295u);
  EXPECT_EQ(ParseWholeNumber("+7"), 7u);
  EXPECT_EQ(ParseWholeNumber("2147483647"), 2147483647u);
  EXPECT_EQ(ParseWholeNumber("-2147483648"), 2147483648u);
  EXPECT_EQ(ParseWholeNumber("$FFFFFFFF"), 4294967295u);
  EXPECT_EQ(ParseWholeNumber("0x1f"), 31u);
  EXPECT_EQ(ParseWholeNumber("X10"), 16u);
  for (const char* bad :
       {"", "  ", "2147483648", "-2147483649", "12a", "0x", "$123456789", "1 2", "-", "0x-1"}) {
    EXPECT_EQ(ParseWholeNumber(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace quillmarsh::test
