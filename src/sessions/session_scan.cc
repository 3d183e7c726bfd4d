#include "sessions/session_scan.h"

#include <cstring>
#include <optional>
#include <string>

#include "platform/session_states.h"
#include "sessions/wts_buffer.h"
#include "state/error_text.h"
#include "state/text.h"

namespace quillmarsh::sessions {
namespace {

using platform::WtsSessionInfo;

// A name counts for matching only with 1 to 245 bytes before its NUL.
bool NameCounts(uint32_t bytes) { return bytes > 1 && bytes < 247; }

// The user and domain buffers of one session, freed user first.
struct NameBuffers {
  explicit NameBuffers(platform::TerminalServer& server) : user(server), domain(server) {}
  ~NameBuffers() { Free(); }
  void Free() {
    user.Free();
    domain.Free();
  }
  WtsBuffer<char> user;
  WtsBuffer<char> domain;
};

bool PassesOwnSessionRule(const State& state, OwnSessionRule rule, uint32_t session_id) {
  // An unknown own session is never taken for any session, nor is any
  // session of another server.
  const bool own = !state.TargetServer.remote() && state.OwnSessionId != kUnknownSessionId &&
                   session_id == state.OwnSessionId;
  switch (rule) {
    case OwnSessionRule::kWhenExcluded:
      return state.IncludeOwnSession || !own;
    case OwnSessionRule::kAlways:
      return !own;
    case OwnSessionRule::kNever:
      return true;
  }
  return true;
}

void LogFailure(State& state, std::string_view tag, uint32_t code) {
  if (!state.Log) return;
  state.LogError(tag);
  state.LogError(SystemErrorText(state.Server, code));
}

// "#" and 1 to 10 decimal digits, at most 4294967295: a session id.
std::optional<uint32_t> SessionNumber(std::string_view target) {
  if (target.size() < 2 || target.size() > 11 || target[0] != '#') return std::nullopt;
  uint64_t number = 0;
  for (char digit : target.substr(1)) {
    if (digit < '0' || digit > '9') return std::nullopt;
    number = number * 10 + static_cast<uint64_t>(digit - '0');
  }
  if (number > 0xFFFFFFFFULL) return std::nullopt;
  return static_cast<uint32_t>(number);
}

bool Selected(State& state, const ScanOptions& options, const LookedUpSession& session) {
  if (options.matching == Matching::kNone ||
      MatchesTarget(state.System, session, options.target, false)) {
    return true;
  }
  if (options.matching != Matching::kByNameOrAll || UpperAscii(options.target) != "*ALL") {
    return false;
  }
  // "/EXCEPT" leaves sessions out of "*ALL" only, never out of a named target.
  const std::string& server = state.TargetServer.name();
  for (const ExceptTarget& excepted : state.ExceptTargets) {
    const bool same_server = UpperAscii(excepted.server) == UpperAscii(server);
    if (MatchesTarget(state.System, session, excepted.target, false, same_server)) return false;
  }
  return true;
}

// Whether the session was handed on (it matched).
bool VisitSession(State& state, const ScanOptions& options, const WtsSessionInfo& record) {
  platform::TerminalServer& server = state.Server;
  const uintptr_t handle = state.TargetServer.handle();
  NameBuffers names(server);
  uint32_t user_bytes = 256;
  uint32_t domain_bytes = 256;
  bool found =
      server.WTSQuerySessionInformationA(handle, record.SessionId, platform::kWtsUserName,
                                         names.user.address(), &user_bytes) &&
      server.WTSQuerySessionInformationA(handle, record.SessionId, platform::kWtsDomainName,
                                         names.domain.address(), &domain_bytes);
  if (!found) {
    LogFailure(state, options.lookup_failure_tag, server.GetLastError());
    return false;
  }
  const LookedUpSession session{
      record,
      names.user.get() != nullptr ? std::string_view(names.user.get()) : std::string_view(),
      names.domain.get() != nullptr ? std::string_view(names.domain.get()) : std::string_view(),
      user_bytes,
      domain_bytes,
  };
  if (state.Log) {
    std::string line = "Domain\\User: " + SessionName(session);
    if (options.state_in_user_line) {
      line += ' ';
      line += platform::SessionStateNames[record.State];
    }
    state.LogInfo(line);
  }
  const bool selected = Selected(state, options, session);
  if (selected) options.on_match(session);
  names.Free();
  return selected;
}

void NoteNoMatch(State& state, const ScanOptions& options) {
  std::string what = "no session matched it";
  if (UpperAscii(options.target) == "ALL") what += " (every session is *ALL)";
  state.NoteAt(options.target_index, what);
}

}  // namespace

std::string SessionName(const LookedUpSession& session) {
  std::string name;
  name.reserve(session.domain.size() + 1 + session.user.size());
  name.append(session.domain);
  name += '\\';
  name.append(session.user);
  return name;
}

bool MatchesTarget(platform::System& system, const LookedUpSession& session,
                   std::string_view target, bool allow_all, bool by_id) {
  if (NameCounts(session.user_bytes) && target.find('\\') == std::string_view::npos &&
      SameAccountName(system, session.user, target)) {
    return true;
  }
  if (NameCounts(session.user_bytes) && NameCounts(session.domain_bytes) &&
      target.find('\\') != std::string_view::npos &&
      SameAccountName(system, SessionName(session), target)) {
    return true;
  }
  if (by_id && target.starts_with('#') && SessionNumber(target) == session.record.SessionId) {
    return true;
  }
  return allow_all && UpperAscii(target) == "*ALL";
}

void RunSessionScan(State& state, const ScanOptions& options) {
  platform::TerminalServer& server = state.Server;
  const ServerConnection& target = state.TargetServer;
  if (target.remote()) {
    state.LogInfo("servername: " + target.name());
    // Without a handle there is nothing to ask; the local server is not
    // asked instead.
    if (target.error() != 0) {
      LogFailure(state, options.enumeration_failure_tag, target.error());
      return;
    }
  }
  WtsBuffer<WtsSessionInfo> sessions(server);
  uint32_t count = 0;
  if (!server.WTSEnumerateSessionsA(target.handle(), 0, 1, sessions.address(), &count)) {
    LogFailure(state, options.enumeration_failure_tag, server.GetLastError());
    return;
  }
  state.LogInfo("Counted: " + std::to_string(count));
  if (options.on_counted) options.on_counted(count);

  bool matched = false;
  for (uint32_t i = 0; i < count; ++i) {
    const WtsSessionInfo& record = sessions.get()[i];
    if (!PassesOwnSessionRule(state, options.own_session_rule, record.SessionId)) continue;
    if (record.State >= options.state_bound && options.state_bound != kEveryState) {
      if (options.on_beyond_bound) options.on_beyond_bound(record);
      continue;
    }
    if (VisitSession(state, options, record)) matched = true;
  }
  sessions.Free();
  if (!matched && options.target_index != 0) NoteNoMatch(state, options);
}

}  // namespace quillmarsh::sessions
