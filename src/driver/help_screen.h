#pragma once

#include "state/state.h"

namespace quillmarsh {

// Prints the 134-line help screen, banner block first.
void PrintHelpScreen(State& state);

}  // namespace quillmarsh
