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

// What the server lists for a process id when asked again.
enum class Relisted {
  // The same pid in the same session, with the same image and owner's SID.
  kUnchanged,
  // Gone, or the pid belongs to another process now.
  kChanged,
  // The enumeration failed (see its error code).
  kFailed,
};

// One more WTSEnumerateProcessesExW of the target server, right before a
// process is ended: whether `record`, read from an earlier one, still
// stands for the same process. The records are freed before it returns.
Relisted ListAgain(State& state, const platform::WtsProcessInfoEx& record, uint32_t* error);

// The accounts that own processes on the target server, as "DOMAIN\user";
// nullopt for a process without a SID or a SID that does not resolve. Each
// look-up runs within "/SERVERTIMEOUT"; once one has run past it, the
// others of the command are not asked for and do not resolve either.
class ProcessOwners {
 public:
  explicit ProcessOwners(State& state);
  const std::optional<std::u16string>& Of(void* sid);

 private:
  State& state_;
  std::u16string server_name_;
  bool gave_up_ = false;
  // By the SID's bytes.
  std::map<std::string, std::optional<std::u16string>> known_;
};

// The image name of a record, empty when it has none.
std::u16string_view ImageName(const platform::WtsProcessInfoEx& record);

}  // namespace quillmarsh::sessions
