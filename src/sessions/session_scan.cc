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

// A name counts for matching only with 1 to 245 UTF-16 units before its
// NUL.
bool NameCounts(uint32_t bytes) { return bytes >= 4 && bytes <= 2 * 246; }

// The user and domain buffers of one session, freed user first.
struct NameBuffers {
  explicit NameBuffers(platform::TerminalServer& server) : user(server), domain(server) {}
  ~NameBuffers() { Free(); }
  void Free() {
    user.Free();
    domain.Free();
  }
  WtsBuffer<char16_t> user;
  WtsBuffer<char16_t> domain;
};

std::u16string_view WideName(const char16_t* text) {
  return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

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
std::optional<uint32_t> SessionNumber(std::u16string_view target) {
  if (target.size() < 2 || target.size() > 11 || target[0] != u'#') return std::nullopt;
  uint64_t number = 0;
  for (char16_t digit : target.substr(1)) {
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
  if (options.matching != Matching::kByNameOrAll || !IsAll(options.target)) {
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
  bool selected = false;
  const bool found = WithSessionNames(
      state, state.TargetServer.handle(), record, [&](const LookedUpSession& session) {
        if (state.Log) {
          std::u16string line = u"Domain\\User: " + WideSessionName(session);
          if (options.state_in_user_line) {
            line += u' ';
            line += state.System.AnsiToUtf16(platform::SessionStateNames[record.State]);
          }
          state.LogInfo(line);
        }
        selected = Selected(state, options, session);
        if (selected) options.on_match(session);
      });
  if (!found) LogFailure(state, options.lookup_failure_tag, state.Server.GetLastError());
  return selected;
}

void NoteNoMatch(State& state, const ScanOptions& options) {
  std::string what = "no session matched it";
  if (UpperAscii(Trim(state.ParamStr(options.target_index))) == "ALL") {
    what += " (every session is *ALL)";
  }
  state.NoteAt(options.target_index, what);
}

}  // namespace

bool WithSessionNames(State& state, uintptr_t server_handle, const WtsSessionInfo& record,
                      const std::function<void(const LookedUpSession&)>& use) {
  platform::TerminalServer& server = state.Server;
  NameBuffers names(server);
  uint32_t user_bytes = 0;
  uint32_t domain_bytes = 0;
  // The W answers hold the names as the server does; a legacy ANSI code
  // page would turn the A answers into "????".
  if (!server.WTSQuerySessionInformationW(server_handle, record.SessionId, platform::kWtsUserName,
                                          names.user.address(), &user_bytes) ||
      !server.WTSQuerySessionInformationW(server_handle, record.SessionId, platform::kWtsDomainName,
                                          names.domain.address(), &domain_bytes)) {
    return false;
  }
  const std::u16string_view wide_user = WideName(names.user.get());
  const std::u16string_view wide_domain = WideName(names.domain.get());
  const std::string user = state.System.Utf16ToAnsi(wide_user);
  const std::string domain = state.System.Utf16ToAnsi(wide_domain);
  use(LookedUpSession{record, user, domain, user_bytes, domain_bytes, wide_user, wide_domain});
  names.Free();
  return true;
}

std::string SessionName(const LookedUpSession& session) {
  std::string name;
  name.reserve(session.domain.size() + 1 + session.user.size());
  name.append(session.domain);
  name += '\\';
  name.append(session.user);
  return name;
}

std::u16string WideSessionName(const LookedUpSession& session) {
  std::u16string name;
  name.reserve(session.wide_domain.size() + 1 + session.wide_user.size());
  name.append(session.wide_domain);
  name += u'\\';
  name.append(session.wide_user);
  return name;
}

DualText DualSessionName(const LookedUpSession& session) {
  return {SessionName(session), WideSessionName(session)};
}

bool IsAll(std::u16string_view target) {
  if (target.size() != 4 || target[0] != u'*') return false;
  for (size_t i = 1; i < 4; ++i) {
    const char16_t unit = target[i];
    const auto upper = static_cast<char16_t>(unit >= u'a' && unit <= u'z' ? unit - 32 : unit);
    if (upper != u"*ALL"[i]) return false;
  }
  return true;
}

bool MatchesTarget(platform::System& system, const LookedUpSession& session,
                   std::u16string_view target, bool allow_all, bool by_id) {
  if (NameCounts(session.user_bytes) && target.find(u'\\') == std::u16string_view::npos &&
      SameAccountName(system, session.wide_user, target)) {
    return true;
  }
  if (NameCounts(session.user_bytes) && NameCounts(session.domain_bytes) &&
      target.find(u'\\') != std::u16string_view::npos &&
      SameAccountName(system, WideSessionName(session), target)) {
    return true;
  }
  if (by_id && target.starts_with(u'#') && SessionNumber(target) == session.record.SessionId) {
    return true;
  }
  return allow_all && IsAll(target);
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
  // "*ALL" on a server with nobody on it is no mistake.
  if (!matched && options.target_index != 0 && !IsAll(options.target)) NoteNoMatch(state, options);
}

}  // namespace quillmarsh::sessions
