#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/system.h"

namespace quillmarsh::test {
namespace {

using platform::SplitCommandLine;
using Arguments = std::vector<std::string>;

TEST(CommandLine, SplitsByItsOwnRules) {
  const struct {
    std::string line;
    Arguments arguments;
  } cases[] = {
      // A backslash is itself, also before a quote: the quote still closes.
      {R"(q /MESSAGE alice "Your files are on H:\" /STATUS bob)",
       {"q", "/MESSAGE", "alice", R"(Your files are on H:\)", "/STATUS", "bob"}},
      {R"(q C:\a\\b \"x y\")", {"q", R"(C:\a\\b)", R"(\x y\)"}},
      // Quotes group; a group next to text or another group joins it.
      {R"(q "a""b" a"b c"d "")", {"q", "ab", "ab cd", ""}},
      {R"(q "" "")", {"q", "", ""}},
      {"q \"open to the end ", {"q", "open to the end "}},
      // Every character up to 0x20 separates; 0x21 and bytes above 0x7F do not.
      {std::string("q\ta\x01"
                   "b\x1f"
                   "c\x7f!\r\n\xc3\xbc",
                   14),
       {"q", "a", "b", "c\x7f!", "\xc3\xbc"}},
      {std::string("q a\0b", 5), {"q", "a", "b"}},
      {"\t\"C:\\Program Files\\quillmarsh.exe\"  /?  ",
       {"C:\\Program Files\\quillmarsh.exe", "/?"}},
      {"  ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << c.line;
    // The UTF-16 line of the same text splits alike.
    std::vector<std::u16string> wide;
    for (const std::string& argument : c.arguments) wide.push_back(platform::Utf8ToUtf16(argument));
    EXPECT_EQ(SplitCommandLine(platform::Utf8ToUtf16(c.line)), wide) << c.line;
  }
}

}  // namespace
}  // namespace quillmarsh::test
