#include "machine/logon_mode.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "machine/exit_windows.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::machine {
namespace {

struct ModeWord {
  std::string_view word;
  bool writes;
  // The drain mode written; none: the one read is kept.
  std::optional<uint32_t> drain;
  uint32_t logons;
};

constexpr ModeWord kModeWords[] = {
    {"ENABLE", true, 0, 0},
    {"DRAIN", true, 2, 0},
    {"DRAINUNTILRESTART", true, 1, 0},
    {"DISABLE", true, std::nullopt, 1},
    {"QUERY", false, std::nullopt, 0},
};

const ModeWord* FindModeWord(std::string_view upper) {
  for (const ModeWord& mode : kModeWords) {
    if (mode.word == upper) return &mode;
  }
  return nullptr;
}

// What QUERY shows for a mode read, and the Errorlevel it sets.
struct QueryAnswer {
  std::string_view shown;
  int32_t error_level;
};

QueryAnswer Describe(const platform::LogonMode& mode) {
  if (mode.Logons != 0) return {"Disabled", 4};
  if (mode.SessionBrokerDrainMode == 2) return {"Drain", 2};
  if (mode.SessionBrokerDrainMode == 1) return {"Drain until restart", 3};
  return {"Enabled", 1};
}

uint32_t ReadWithinLimit(State& state, const std::u16string& machine, platform::LogonMode* mode) {
  // The worker writes into a copy it shares, never into `mode` directly:
  // at the limit the call is given up on and may still answer later.
  auto answer = std::make_shared<platform::LogonMode>();
  const TimeLimitedResult result =
      state.CallWithinServerTimeout([machine, answer](platform::TerminalServer& server) {
        platform::LogonMode read;
        const uint32_t error = server.ReadLogonMode(MachineOrNull(machine), &read);
        if (error == 0) *answer = read;
        return error;
      });
  if (result.error == 0) *mode = *answer;
  return result.error;
}

TimeLimitedResult WriteWithinLimit(State& state, const std::u16string& machine,
                                   const platform::LogonMode& mode) {
  return state.CallWithinServerTimeout([machine, mode](platform::TerminalServer& server) {
    return server.WriteLogonMode(MachineOrNull(machine), mode);
  });
}

}  // namespace

void LogonModeCommand(State& state) {
  const int32_t word_index = state.ArgIndex;
  state.ArgIndex += 2;
  if (word_index + 1 > state.ParamCount()) {
    state.StopAt(word_index, "a logon mode must follow");
    return;
  }
  const std::string word = UpperAscii(Trim(state.ParamStr(word_index + 1)));
  const ModeWord* mode = FindModeWord(word);
  if (mode == nullptr) {
    state.StopAt(word_index + 1,
                 "the logon mode must be ENABLE, DRAIN, DRAINUNTILRESTART, DISABLE or QUERY");
    return;
  }
  state.LogInfo("Logons: " + word);
  // Only a change needs rights here; whether the account may read the
  // setting, or change another server's, is for Windows to say.
  if (mode->writes && !state.TargetServer.remote() && RefuseUnlessAdministrator(state)) {
    state.ErrorLevel = 1;
    return;
  }
  if (state.SessionEnded) return;

  const std::u16string machine = state.TargetMachineName();
  const std::string refused = "Logons Not OK: " + word;
  // The write needs the read: the property a mode leaves alone is kept as
  // read, and without the read nothing is written.
  platform::LogonMode current;
  if (const uint32_t error = ReadWithinLimit(state, machine, &current); error != 0) {
    state.ReportRefusal(refused, error);
    if (mode->writes) state.ErrorLevel = 1;
    return;
  }
  if (!mode->writes) {
    const QueryAnswer answer = Describe(current);
    const std::string line = "Logons: " + std::string(answer.shown);
    state.LogInfo(line);
    state.PrintLine(line);
    state.ErrorLevel = answer.error_level;
    return;
  }
  if (state.WhatIf) {
    ReportWhatIf(state, "Logons " + word + " on " + TargetServerName(state));
    state.ErrorLevel = 2;
    return;
  }
  platform::LogonMode wanted = current;
  if (mode->drain) wanted.SessionBrokerDrainMode = *mode->drain;
  wanted.Logons = mode->logons;
  if (const TimeLimitedResult written = WriteWithinLimit(state, machine, wanted);
      written.error != 0) {
    state.ReportRefusal(refused, written.error);
    // A write given up on may still be made: neither set nor refused.
    state.ErrorLevel = written.abandoned ? 3 : 1;
    if (written.abandoned) ReportOutcomeUnknown(state);
    return;
  }
  const std::string done = "Logons OK: " + word;
  state.LogInfo(done);
  state.PrintLine(done);
  state.ErrorLevel = 2;
}

}  // namespace quillmarsh::machine
