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

// The arguments the program was started with, the program name first: on
// Windows the process's command line split by SplitCommandLine, elsewhere
// `argv` as the shell split it. Implemented in system-posix.cc and
// system-win32.cc.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace quillmarsh::platform
