// The program's arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmarsh::platform {

// Splits a Windows command line into arguments, the program name first.
// Every character from 0x00 to 0x20 (blank, tab and the other control
// characters) separates arguments outside double quotes. A double quote
// opens or closes a group in which blanks belong to the argument; the
// quotes themselves are removed. There is no escape character: a backslash
// is always itself, so "C:\Data\" is C:\Data\ and a double quote can never
// be part of an argument. `""` is an argument of its own, empty, and
// `"a""b"` is ab. A quote left open runs to the end of the line.
std::vector<std::string> SplitCommandLine(std::string_view command_line);
// The same rules for a line in UTF-16.
std::vector<std::u16string> SplitCommandLine(std::u16string_view command_line);

// The program's arguments in both forms, the same count in each.
struct ArgumentList {
  // In the ANSI code page, as the console shows them.
  std::vector<std::string> ansi;
  // In UTF-16, as they were typed: names are matched in this form.
  std::vector<std::u16string> wide;
};

// The arguments the program was started with, the program name first: on
// Windows the process's UTF-16 command line (GetCommandLineW) split by
// SplitCommandLine, each argument then converted to the ANSI code page;
// elsewhere `argv` as the shell split it. Implemented in system-posix.cc
// and system-win32.cc.
ArgumentList ProgramArguments(int argc, char** argv);

}  // namespace quillmarsh::platform
