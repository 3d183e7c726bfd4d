// What "/PROCESSES" and "/ENDPROCESS" share: the sessions a scan matched,
// one process enumeration of the target server walked for those sessions,
// and the owners of the processes, each SID looked up once per command.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal_server.h"
#include "sessions/session_scan.h"
#include "state/state.h"

namespace quillmarsh::sessions {

// A session the scan matched, its names copied before the scan frees them.
struct MatchedSession {
  uint32_t id = 0;
  std::string user;
  std::string domain;
  std::u16string wide_user;
  std::u16string wide_domain;
};

MatchedSession CopyMatch(const LookedUpSession& session);

// One WTSEnumerateProcessesExW of the target server (level 1, every
// session); `visit` gets each record of a matched session, in the
// enumeration's order. The records are freed with WTSFreeMemoryExW before
// it returns. A failed enumeration is logged under `failure_tag` and gives
// false.
bool VisitSessionProcesses(
    State& state, const std::vector<MatchedSession>& sessions, std::string_view failure_tag,
    const std::function<void(const platform::WtsProcessInfoEx&, const MatchedSession&)>& visit);

// The accounts that own processes on the target server, as "DOMAIN\user";
// nullopt for a process without a SID or a SID that does not resolve.
class ProcessOwners {
 public:
  explicit ProcessOwners(State& state);
  const std::optional<std::u16string>& Of(void* sid);

 private:
  State& state_;
  std::u16string server_name_;
  // By the SID's bytes.
  std::map<std::string, std::optional<std::u16string>> known_;
};

// The image name of a record, empty when it has none.
std::u16string_view ImageName(const platform::WtsProcessInfoEx& record);

}  // namespace quillmarsh::sessions
