// The dispatch table: command words in the order in which they are tested.
#pragma once

#include <span>
#include <string_view>

#include "state/state.h"

namespace quillmarsh {

struct Command {
  std::string_view word;
  CommandHandler handler;
};

std::span<const Command> CommandTable();

}  // namespace quillmarsh
