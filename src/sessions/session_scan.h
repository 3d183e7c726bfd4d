// The one walk over the server's sessions that every session command
// shares: enumerate, leave out by the own-session rule and by state, look up
// user and domain, log them, match them against the command's target and
// hand each match to the command's action. Every buffer that Terminal
// Services hands out is freed before the scan returns, on every path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/terminal_server.h"
#include "state/state.h"

namespace quillmarsh::sessions {

enum class OwnSessionRule {
  kWhenExcluded,  // left out after "/NOTME"
  kNever,
  kAlways,
};

enum class Matching {
  kNone,  // every looked-up session is handed on
  kByName,
  kByNameOrAll,
};

// A session that passed the filters and whose names were looked up: as the
// server holds them (`wide_user`, `wide_domain`) and in the ANSI code page,
// as the console shows them.
struct LookedUpSession {
  const platform::WtsSessionInfo& record;
  std::string_view user;
  std::string_view domain;
  // The byte counts of the UTF-16 answers, with their NUL.
  uint32_t user_bytes;
  uint32_t domain_bytes;
  std::u16string_view wide_user;
  std::u16string_view wide_domain;
};

// A state bound that keeps sessions of every state.
inline constexpr uint32_t kEveryState = 0xFFFFFFFF;

struct ScanOptions {
  uint32_t state_bound = 0;
  OwnSessionRule own_session_rule = OwnSessionRule::kNever;
  Matching matching = Matching::kNone;
  // The trimmed target operand (for the matching modes), in UTF-16.
  std::u16string_view target;
  std::string_view enumeration_failure_tag;
  std::string_view lookup_failure_tag;
  // The listings add the state name to the "Domain\User: " log line.
  bool state_in_user_line = false;
  // Nonzero: the argument of the target, named on standard error when the
  // server answered and no session matched a target other than "*ALL" (a
  // typo such as "ALL" for "*ALL" must not pass silently).
  int32_t target_index = 0;

  // After a successful enumeration, with the number of sessions.
  std::function<void(uint32_t count)> on_counted;
  // For each matching (or, without matching, each looked-up) session.
  std::function<void(const LookedUpSession&)> on_match;
  // For each session at or above the state bound that the own-session
  // rule kept; such sessions are not looked up.
  std::function<void(const platform::WtsSessionInfo&)> on_beyond_bound;
};

void RunSessionScan(State& state, const ScanOptions& options);

// Looks up user and domain of the session `record` of that server and hands
// the looked-up session to `use`, then frees both answers. False, with the
// error in GetLastError, when a look-up fails.
bool WithSessionNames(State& state, uintptr_t server_handle, const platform::WtsSessionInfo& record,
                      const std::function<void(const LookedUpSession&)>& use);

// Domain + "\" + User, also when either is empty.
std::string SessionName(const LookedUpSession& session);
std::u16string WideSessionName(const LookedUpSession& session);
// Both forms: for lines that go to the console and the log.
DualText DualSessionName(const LookedUpSession& session);

// Whether a looked-up session matches the target by name (in UTF-16, letter
// case ignored as Windows ignores it) or, when `by_id`, by "#id".
bool MatchesTarget(platform::System& system, const LookedUpSession& session,
                   std::u16string_view target, bool allow_all, bool by_id = true);

// Whether a target is "*ALL" in any letter case.
bool IsAll(std::u16string_view target);

}  // namespace quillmarsh::sessions
