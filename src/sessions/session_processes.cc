#include "sessions/session_processes.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "state/error_text.h"

namespace quillmarsh::sessions {
namespace {

// Owns the records WTSEnumerateProcessesExW handed out and frees them with
// WTSFreeMemoryExW, at the latest when it goes out of scope.
class ProcessRecords {
 public:
  explicit ProcessRecords(platform::TerminalServer& server) : server_(server) {}
  ~ProcessRecords() {
    if (records_ != nullptr)
      server_.WTSFreeMemoryExW(platform::kWtsTypeProcessInfoLevel1, records_, count_);
  }
  ProcessRecords(const ProcessRecords&) = delete;
  ProcessRecords& operator=(const ProcessRecords&) = delete;

  platform::WtsProcessInfoEx** address() { return &records_; }
  uint32_t* count() { return &count_; }
  const platform::WtsProcessInfoEx* get() const { return records_; }

 private:
  platform::TerminalServer& server_;
  platform::WtsProcessInfoEx* records_ = nullptr;
  uint32_t count_ = 0;
};

// A SID's bytes: 8 and 4 for each sub-authority, whose count is the second
// byte; empty for none.
std::string SidBytes(const void* sid) {
  if (sid == nullptr) return {};
  const auto* bytes = static_cast<const char*>(sid);
  return std::string(bytes, 8 + 4 * static_cast<size_t>(static_cast<uint8_t>(bytes[1])));
}

}  // namespace

MatchedSession CopyMatch(const LookedUpSession& session) {
  return {session.record.SessionId, std::string(session.user), std::string(session.domain),
          std::u16string(session.wide_user), std::u16string(session.wide_domain)};
}

bool VisitSessionProcesses(
    State& state, const std::vector<MatchedSession>& sessions, std::string_view failure_tag,
    const std::function<void(const platform::WtsProcessInfoEx&, const MatchedSession&)>& visit) {
  ProcessRecords records(state.Server);
  uint32_t level = 1;
  if (!state.Server.WTSEnumerateProcessesExW(state.TargetServer.handle(), &level,
                                             platform::kAnySession, records.address(),
                                             records.count())) {
    const uint32_t code = FailureCode(state.Server.GetLastError());
    state.LogError(failure_tag);
    if (state.Log) state.LogError(SystemErrorText(state.Server, code));
    return false;
  }
  // Another level's records would be read with the wrong layout.
  if (level != 1 || records.get() == nullptr) return true;
  for (uint32_t i = 0; i < *records.count(); ++i) {
    const platform::WtsProcessInfoEx& record = records.get()[i];
    auto session = std::find_if(sessions.begin(), sessions.end(), [&record](const auto& matched) {
      return matched.id == record.SessionId;
    });
    if (session != sessions.end()) visit(record, *session);
  }
  return true;
}

Relisted ListAgain(State& state, const platform::WtsProcessInfoEx& record, uint32_t* error) {
  ProcessRecords records(state.Server);
  uint32_t level = 1;
  if (!state.Server.WTSEnumerateProcessesExW(state.TargetServer.handle(), &level,
                                             platform::kAnySession, records.address(),
                                             records.count())) {
    *error = FailureCode(state.Server.GetLastError());
    return Relisted::kFailed;
  }
  if (level != 1 || records.get() == nullptr) return Relisted::kChanged;
  for (uint32_t i = 0; i < *records.count(); ++i) {
    const platform::WtsProcessInfoEx& now = records.get()[i];
    if (now.ProcessId != record.ProcessId) continue;
    const bool same = now.SessionId == record.SessionId && ImageName(now) == ImageName(record) &&
                      SidBytes(now.pUserSid) == SidBytes(record.pUserSid);
    return same ? Relisted::kUnchanged : Relisted::kChanged;
  }
  return Relisted::kChanged;
}

ProcessOwners::ProcessOwners(State& state)
    : state_(state), server_name_(state.TargetMachineName()) {}

const std::optional<std::u16string>& ProcessOwners::Of(void* sid) {
  static const std::optional<std::u16string> kNone;
  if (sid == nullptr) return kNone;
  std::string key = SidBytes(sid);
  auto found = known_.find(key);
  if (found != known_.end()) return found->second;
  std::optional<std::u16string> owner;
  if (!gave_up_) {
    // The worker writes into a copy it shares and reads its own copy of the
    // SID: at the limit the look-up is given up on and may still answer.
    auto answer = std::make_shared<std::optional<std::u16string>>();
    const TimeLimitedResult result = state_.CallWithinServerTimeout(
        [machine = server_name_, bytes = key, answer](platform::TerminalServer& server) {
          *answer =
              server.LookupAccountOwner(MachineOrNull(machine), const_cast<char*>(bytes.data()));
          return uint32_t{0};
        });
    if (result.abandoned) {
      gave_up_ = true;
      state_.LogError("Owner look-up gave up after " + std::to_string(state_.ServerTimeoutSeconds) +
                      " s");
    } else {
      owner = std::move(*answer);
    }
  }
  return known_.emplace(std::move(key), std::move(owner)).first->second;
}

std::u16string_view ImageName(const platform::WtsProcessInfoEx& record) {
  return record.pProcessName != nullptr ? std::u16string_view(record.pProcessName)
                                        : std::u16string_view();
}

}  // namespace quillmarsh::sessions
