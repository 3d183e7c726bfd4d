#include "sessions/processes.h"

#include <string>
#include <vector>

#include "sessions/session_details.h"
#include "sessions/session_processes.h"
#include "sessions/session_scan.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::sessions {
namespace {

constexpr std::string_view kCsvHeading =
    "server,session,pid,image,owner,threads,handles,working_set_bytes,peak_working_set_bytes,"
    "pagefile_bytes,user_ms,kernel_ms";

// 100 ns units in a millisecond.
constexpr int64_t kTimeUnitsPerMillisecond = 10'000;

// The table's columns (ANSI), each padded by characters to its width and
// followed by a blank; OWNER, the last one, is not padded.
std::string TableLine(platform::System& system, std::string_view server, std::string_view id,
                      std::string_view pid, std::string_view memory, std::string_view image,
                      std::string_view owner) {
  return TableRow(system, {{server, 15}, {id, 6}, {pid, 8}, {memory, 10}, {image, 24}}, owner);
}

class ProcessPrinter {
 public:
  explicit ProcessPrinter(State& state)
      : state_(state),
        owners_(state),
        server_(platform::Utf16ToUtf8(state.System.AnsiToUtf16(TargetServerName(state)))) {}

  void Print(const platform::WtsProcessInfoEx& record) {
    const std::string image = platform::Utf16ToUtf8(ImageName(record));
    const std::optional<std::u16string>& owner_name = owners_.Of(record.pUserSid);
    const std::string owner = owner_name ? platform::Utf16ToUtf8(*owner_name) : std::string();
    if (state_.CsvOutput) {
      std::string row = CsvField(server_);
      for (const std::string& field :
           {std::to_string(record.SessionId), std::to_string(record.ProcessId), CsvField(image),
            CsvField(owner), std::to_string(record.NumberOfThreads),
            std::to_string(record.HandleCount), std::to_string(record.WorkingSetSize),
            std::to_string(record.PeakWorkingSetSize), std::to_string(record.PagefileUsage),
            std::to_string(record.UserTime / kTimeUnitsPerMillisecond),
            std::to_string(record.KernelTime / kTimeUnitsPerMillisecond)}) {
        row += ',';
        row += field;
      }
      state_.PrintLine(row);
    } else {
      if (!heading_printed_) {
        state_.PrintLine(
            TableLine(state_.System, "SERVER", "ID", "PID", "MEMORY", "IMAGE", "OWNER"));
        heading_printed_ = true;
      }
      const auto ansi = [this](const std::string& utf8) {
        return state_.System.Utf16ToAnsi(platform::Utf8ToUtf16(utf8));
      };
      state_.PrintLine(TableLine(state_.System, ansi(server_), std::to_string(record.SessionId),
                                 std::to_string(record.ProcessId),
                                 std::to_string(record.WorkingSetSize / 1024), ansi(image),
                                 owner.empty() ? "-" : ansi(owner)));
    }
    printed_ = true;
  }

  bool printed() const { return printed_; }

 private:
  State& state_;
  ProcessOwners owners_;
  std::string server_;
  bool heading_printed_ = false;
  bool printed_ = false;
};

}  // namespace

void ProcessesCommand(State& state) {
  state.LogInfo("Begin Processes");
  const std::string target(state.OperandsFollow(1) ? Trim(state.ParamStr(state.ArgIndex + 1))
                                                   : std::string_view());
  if (!state.OperandsFollow(1)) {
    state.StopAt(state.ArgIndex, "a user, *ALL or #id must follow");
  } else if (target.empty()) {
    state.StopAt(state.ArgIndex + 1, "a user, *ALL or #id must be given");
  } else {
    if (state.CsvOutput && !state.ProcessCsvHeadingWritten) {
      state.PrintLine(kCsvHeading);
      state.ProcessCsvHeadingWritten = true;
    }
    std::vector<MatchedSession> matched;
    bool enumerated = false;
    ScanOptions options;
    options.state_bound = kEveryState;
    options.own_session_rule = OwnSessionRule::kWhenExcluded;
    options.matching = Matching::kByNameOrAll;
    options.target = state.TrimmedWideParam(state.ArgIndex + 1);
    options.enumeration_failure_tag = "Error 8a";
    options.lookup_failure_tag = "Error 8b";
    options.on_counted = [&enumerated](uint32_t) { enumerated = true; };
    options.on_match = [&state, &matched](const LookedUpSession& session) {
      if (IdleLongEnough(state, session)) matched.push_back(CopyMatch(session));
    };
    RunSessionScan(state, options);
    bool printed = false;
    if (!matched.empty()) {
      ProcessPrinter printer(state);
      enumerated =
          VisitSessionProcesses(state, matched, "Error 8c",
                                [&printer](const platform::WtsProcessInfoEx& record,
                                           const MatchedSession&) { printer.Print(record); });
      printed = printer.printed();
    }
    if (printed) {
      state.ErrorLevel = 2;
    } else if (enumerated) {
      state.ErrorLevel = 1;
    }
  }
  state.ArgIndex += 2;
  state.LogInfo("End Processes");
}

}  // namespace quillmarsh::sessions
