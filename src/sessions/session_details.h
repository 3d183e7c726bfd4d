// What WTSQuerySessionInformationW tells about a session beyond its name:
// the times of WTSSessionInfo, the idle time they give, and the texts
// "/SESSIONINFO" prints them as.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/terminal_server.h"
#include "sessions/session_scan.h"
#include "state/state.h"

namespace quillmarsh::sessions {

// A state no session has: the WTSSessionInfo answer did not tell.
inline constexpr uint32_t kUnknownState = 0xFFFFFFFF;

// The times of one WTSSessionInfo answer as FILETIME values; 0 for a time
// that is unknown, before 1970 or after 9999. `state` is the session's state
// in the same answer, so that the idle rule never judges a session by times
// of a state it has left since the enumeration.
struct SessionTimes {
  uint32_t state = kUnknownState;
  int64_t logon = 0;
  int64_t connect = 0;
  int64_t disconnect = 0;
  int64_t last_input = 0;
  int64_t current = 0;
};

// One WTSQuerySessionInformationW answer for the session on the target
// server, its bytes copied; empty when it handed out no buffer. A failure
// writes "Error 6c" and the error text to the log and gives nullopt.
std::optional<std::string> QuerySessionDetail(State& state, uintptr_t server, uint32_t session_id,
                                              uint32_t info_class);

// Queries WTSSessionInfo for the session on `server`. A failure writes
// "Error 6c" and the error text to the log and gives nullopt.
std::optional<SessionTimes> QuerySessionTimes(State& state, uintptr_t server, uint32_t session_id);

// Whole seconds the session has been idle, by the server's own clock and
// in the state the same answer gives:
// since the last input in states 0 to 3, since the disconnect when
// disconnected; unknown otherwise, and when that time is unknown or after
// the current time.
std::optional<int64_t> IdleSeconds(const SessionTimes& times);

// Under "/IDLEMINUTES n": whether the session is known to have been idle
// for at least n minutes (one WTSSessionInfo query on `server`). Without
// it: true, and nothing is asked.
bool IdleLongEnough(State& state, uintptr_t server, uint32_t session_id);
bool IdleLongEnough(State& state, const LookedUpSession& session);
bool IdleLongEnough(const State& state, const SessionTimes* times);

// "H:MM" under a day, otherwise "D+HH:MM"; minutes rounded down.
std::string IdleText(int64_t seconds);
// A known FILETIME as UTC "YYYY-MM-DDTHH:MM:SSZ"; empty when unknown.
std::string UtcText(int64_t file_time);
// A known FILETIME in the local time of this machine, "YYYY-MM-DD HH:MM";
// "-" when unknown.
std::string LocalMinuteText(platform::System& system, int64_t file_time);
// The usual IPv4 or IPv6 text of a WTS_CLIENT_ADDRESS; empty for others.
std::string AddressText(const platform::WtsClientAddress& address);
// One CSV field: a leading "'" when it starts like a formula, then quoted
// when it holds a comma, a double quote, CR or LF.
std::string CsvField(std::string_view text);

}  // namespace quillmarsh::sessions
