#pragma once

#include <string>
#include <string_view>

#include "state/state.h"

namespace quillmarsh::sessions {

// "/LISTALLSESSIONS" and "/LISTACTIVESESSIONS": one line per session, who
// and in which state.
void ListSessionsCommand(State& state);

// The width of the first column: 78 less the longest state name.
size_t ListingColumnWidth();

// The text (ANSI) padded with blanks to `width` characters, not bytes, so
// that the next column lines up after "müller" or "Ольга"; never cut.
std::string PadRight(platform::System& system, std::string_view text, size_t width);

}  // namespace quillmarsh::sessions
