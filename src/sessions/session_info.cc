#include "sessions/session_info.h"

#include <cstring>
#include <optional>
#include <string>

#include "platform/session_states.h"
#include "sessions/session_details.h"
#include "sessions/session_listing.h"
#include "sessions/session_scan.h"
#include "state/computer_name.h"
#include "state/text.h"

namespace quillmarsh::sessions {
namespace {

constexpr std::string_view kCsvHeading =
    "server,id,station,state,domain,user,client_name,client_address,logon_time,connect_time,"
    "disconnect_time,last_input_time,current_time,idle_seconds";

// Ten years.
constexpr uint32_t kMostIdleMinutes = 5'256'000;

std::string StateName(uint32_t session_state) {
  return std::string(session_state < platform::SessionStateNames.size()
                         ? platform::SessionStateNames[session_state]
                         : "unknown");
}

// The table's columns, each padded to its width and followed by a blank;
// USER, the last one, is not padded.
std::string TableLine(platform::System& system, std::string_view server, std::string_view id,
                      std::string_view state_name, std::string_view idle, std::string_view logon,
                      std::string_view client, std::string_view user) {
  return TableRow(system,
                  {{server, 15}, {id, 6}, {state_name, 12}, {idle, 9}, {logon, 16}, {client, 15}},
                  user);
}

// The client's name (class 10), up to its NUL; empty when unknown.
std::u16string ClientName(State& state, uint32_t session_id) {
  const std::optional<std::string> answer =
      QuerySessionDetail(state, state.TargetServer.handle(), session_id, platform::kWtsClientName);
  if (!answer) return {};
  std::u16string name(answer->size() / 2, u'\0');
  std::memcpy(name.data(), answer->data(), name.size() * 2);
  return name.substr(0, name.find(u'\0'));
}

// The client's address (class 14); empty when unknown.
std::string ClientAddress(State& state, uint32_t session_id) {
  const std::optional<std::string> answer = QuerySessionDetail(
      state, state.TargetServer.handle(), session_id, platform::kWtsClientAddress);
  platform::WtsClientAddress address{};
  if (!answer || answer->size() < sizeof address) return {};
  std::memcpy(&address, answer->data(), sizeof address);
  return AddressText(address);
}

class SessionInfoPrinter {
 public:
  explicit SessionInfoPrinter(State& state) : state_(state) {
    server_ansi_ = state.TargetServer.remote()
                       ? state.TargetServer.name()
                       : ComputerName(state.Server, state.System, platform::kComputerNameNetBios);
    if (state.CsvOutput) server_csv_ = Utf8(server_ansi_);
  }

  void Print(const LookedUpSession& session) {
    const uint32_t id = session.record.SessionId;
    const std::optional<SessionTimes> times =
        QuerySessionTimes(state_, state_.TargetServer.handle(), id);
    if (!IdleLongEnough(state_, times ? &*times : nullptr)) return;
    const SessionTimes known = times.value_or(SessionTimes{});
    const std::optional<int64_t> idle = IdleSeconds(known);
    const std::u16string client_name = ClientName(state_, id);
    if (state_.CsvOutput) {
      const std::string address = ClientAddress(state_, id);
      const char* station = session.record.pWinStationName;
      std::string row = CsvField(server_csv_);
      for (const std::string& field :
           {std::to_string(id), CsvField(Utf8(station != nullptr ? station : "")),
            CsvField(StateName(session.record.State)),
            CsvField(platform::Utf16ToUtf8(session.wide_domain)),
            CsvField(platform::Utf16ToUtf8(session.wide_user)),
            CsvField(platform::Utf16ToUtf8(client_name)), CsvField(address), UtcText(known.logon),
            UtcText(known.connect), UtcText(known.disconnect), UtcText(known.last_input),
            UtcText(known.current), idle ? std::to_string(*idle) : ""}) {
        row += ',';
        row += field;
      }
      state_.PrintLine(row);
    } else {
      if (!heading_printed_) {
        state_.PrintLine(
            TableLine(state_.System, "SERVER", "ID", "STATE", "IDLE", "LOGON", "CLIENT", "USER"));
        heading_printed_ = true;
      }
      const std::string client = client_name.empty() ? "-" : state_.System.Utf16ToAnsi(client_name);
      std::string user = "-";
      if (!session.user.empty()) {
        user = session.domain.empty() ? std::string(session.user) : SessionName(session);
      }
      state_.PrintLine(TableLine(state_.System, server_ansi_, std::to_string(id),
                                 StateName(session.record.State), idle ? IdleText(*idle) : "-",
                                 LocalMinuteText(state_.System, known.logon), client, user));
    }
    state_.ErrorLevel = 2;
  }

 private:
  std::string Utf8(std::string_view ansi) {
    return platform::Utf16ToUtf8(state_.System.AnsiToUtf16(ansi));
  }

  State& state_;
  std::string server_ansi_;
  std::string server_csv_;
  bool heading_printed_ = false;
};

}  // namespace

void SessionInfoCommand(State& state) {
  state.LogInfo("Begin SessionInfo");
  const std::string target(state.OperandsFollow(1) ? Trim(state.ParamStr(state.ArgIndex + 1))
                                                   : std::string_view());
  if (target.empty()) {
    state.StopAt(state.OperandOrWord(1), "a user name, *ALL or #id must follow");
  } else {
    if (state.CsvOutput && !state.CsvHeadingWritten) {
      state.PrintLine(kCsvHeading);
      state.CsvHeadingWritten = true;
    }
    SessionInfoPrinter printer(state);
    ScanOptions options;
    options.state_bound = kEveryState;
    options.own_session_rule = OwnSessionRule::kWhenExcluded;
    options.matching = Matching::kByNameOrAll;
    options.target = state.TrimmedWideParam(state.ArgIndex + 1);
    options.enumeration_failure_tag = "Error 6a";
    options.lookup_failure_tag = "Error 6b";
    options.on_counted = [&state](uint32_t count) {
      if (count > 0) state.ErrorLevel = 1;
    };
    options.on_match = [&printer](const LookedUpSession& session) { printer.Print(session); };
    RunSessionScan(state, options);
  }
  state.ArgIndex += 2;
  state.LogInfo("End SessionInfo");
}

void CsvCommand(State& state) {
  state.CsvOutput = true;
  state.LogInfo("Output: CSV");
  ++state.ArgIndex;
}

void IdleMinutesCommand(State& state) {
  const std::optional<uint32_t> minutes =
      state.OperandsFollow(1)
          ? ParseDecimalInRange(state.ParamStr(state.ArgIndex + 1), 0, kMostIdleMinutes)
          : std::nullopt;
  if (!minutes) {
    // A typo must never turn the filter off before an action.
    state.StopAt(state.OperandOrWord(1),
                 "/IDLEMINUTES takes 0 to " + std::to_string(kMostIdleMinutes) + " minutes");
  } else {
    state.IdleMinutes = *minutes;
    state.LogInfo("Idle minutes: " + std::to_string(*minutes));
  }
  state.ArgIndex += 2;
}

void ExceptCommand(State& state) {
  const std::string_view operand =
      state.OperandsFollow(1) ? Trim(state.ParamStr(state.ArgIndex + 1)) : std::string_view();
  if (operand.empty()) {
    state.StopAt(state.OperandOrWord(1), "a user name or #id must follow");
  } else {
    const std::u16string_view wide_operand = state.TrimmedWideParam(state.ArgIndex + 1);
    state.ExceptTargets.push_back({std::u16string(wide_operand), state.TargetServer.name()});
    state.LogInfo(u"Except: " + std::u16string(wide_operand));
  }
  state.ArgIndex += 2;
}

}  // namespace quillmarsh::sessions
