#include "sessions/session_processes.h"

#include <algorithm>

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

ProcessOwners::ProcessOwners(State& state)
    : state_(state), server_name_(state.TargetMachineName()) {}

const std::optional<std::u16string>& ProcessOwners::Of(void* sid) {
  static const std::optional<std::u16string> kNone;
  if (sid == nullptr) return kNone;
  // A SID is 8 bytes and 4 for each sub-authority, whose count is its
  // second byte.
  const auto* bytes = static_cast<const char*>(sid);
  std::string key(bytes, 8 + 4 * static_cast<size_t>(static_cast<uint8_t>(bytes[1])));
  auto found = known_.find(key);
  if (found == known_.end()) {
    found = known_
                .emplace(std::move(key),
                         state_.Server.LookupAccountOwner(MachineOrNull(server_name_), sid))
                .first;
  }
  return found->second;
}

std::u16string_view ImageName(const platform::WtsProcessInfoEx& record) {
  return record.pProcessName != nullptr ? std::u16string_view(record.pProcessName)
                                        : std::u16string_view();
}

}  // namespace quillmarsh::sessions
