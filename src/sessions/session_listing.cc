#include "sessions/session_listing.h"

#include "platform/session_states.h"
#include "sessions/session_scan.h"
#include "state/text.h"

namespace quillmarsh::sessions {
namespace {

constexpr std::string_view kListAll = "/LISTALLSESSIONS";

void PrintListingLine(State& state, std::string_view who, size_t width,
                      std::string_view state_text) {
  std::string line = PadRight(state.System, who, width);
  line += ' ';
  line.append(state_text);
  state.PrintLine(line);
}

}  // namespace

size_t ListingColumnWidth() {
  size_t longest = 0;
  for (std::string_view name : platform::SessionStateNames)
    longest = std::max(longest, name.size());
  return 78 - longest;
}

std::string PadRight(platform::System& system, std::string_view text, size_t width) {
  std::string padded(text);
  const size_t characters = CharacterCount(system, text);
  if (characters < width) padded.append(width - characters, ' ');
  return padded;
}

void ListSessionsCommand(State& state) {
  state.LogInfo("Begin listallsessions");
  const size_t width = ListingColumnWidth();
  const bool list_all = state.CurrentCommand == kListAll;

  ScanOptions options;
  options.state_bound = 5;
  options.own_session_rule = OwnSessionRule::kWhenExcluded;
  options.matching = Matching::kNone;
  options.enumeration_failure_tag = "Error 4a";
  options.lookup_failure_tag = "Error 4b";
  options.state_in_user_line = true;
  options.on_counted = [&state](uint32_t count) {
    if (count > 0) state.ErrorLevel = 1;
  };
  options.on_match = [&state, width](const LookedUpSession& session) {
    PrintListingLine(state, SessionName(session), width,
                     platform::SessionStateNames[session.record.State]);
    state.ErrorLevel = 2;
  };
  options.on_beyond_bound = [&state, width, list_all](const platform::WtsSessionInfo& record) {
    if (!list_all) return;
    std::string number = "#";
    number += std::to_string(record.SessionId);
    PrintListingLine(state, number, width,
                     record.State < platform::SessionStateNames.size()
                         ? platform::SessionStateNames[record.State]
                         : "unknown");
    state.ErrorLevel = 2;
  };
  RunSessionScan(state, options);

  ++state.ArgIndex;
  state.LogInfo("End listallsessions");
}

}  // namespace quillmarsh::sessions
