#include "platform/command_line.h"

#include <type_traits>

namespace quillmarsh::platform {
namespace {

template <typename Char>
bool Separates(Char c) {
  return static_cast<std::make_unsigned_t<Char>>(c) <= 0x20;
}

template <typename Char>
std::vector<std::basic_string<Char>> Split(std::basic_string_view<Char> command_line) {
  std::vector<std::basic_string<Char>> arguments;
  size_t at = 0;
  const size_t end = command_line.size();
  while (true) {
    while (at < end && Separates(command_line[at])) ++at;
    if (at == end) break;
    std::basic_string<Char> argument;
    while (at < end && !Separates(command_line[at])) {
      if (command_line[at] != '"') {
        argument += command_line[at++];
        continue;
      }
      const size_t closing = command_line.find(Char('"'), at + 1);
      const size_t group_end = closing == std::basic_string_view<Char>::npos ? end : closing;
      argument.append(command_line.substr(at + 1, group_end - at - 1));
      at = closing == std::basic_string_view<Char>::npos ? end : closing + 1;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  return Split(command_line);
}

std::vector<std::u16string> SplitCommandLine(std::u16string_view command_line) {
  return Split(command_line);
}

}  // namespace quillmarsh::platform
