#include "platform/command_line.h"

namespace quillmarsh::platform {
namespace {

bool Separates(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> arguments;
  size_t at = 0;
  const size_t end = command_line.size();
  while (true) {
    while (at < end && Separates(command_line[at])) ++at;
    if (at == end) break;
    std::string argument;
    while (at < end && !Separates(command_line[at])) {
      if (command_line[at] != '"') {
        argument += command_line[at++];
        continue;
      }
      const size_t closing = command_line.find('"', at + 1);
      const size_t group_end = closing == std::string_view::npos ? end : closing;
      argument.append(command_line.substr(at + 1, group_end - at - 1));
      at = closing == std::string_view::npos ? end : closing + 1;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace quillmarsh::platform
