#include "state/state.h"

#include <chrono>
#include <utility>

#include "state/error_text.h"

namespace quillmarsh {

State::State(std::vector<std::string> arguments, std::shared_ptr<platform::TerminalServer> server,
             platform::System& system)
    : Args(std::move(arguments)), Server(*server), System(system), TargetServer(std::move(server)) {
  if (Args.empty()) Args.emplace_back();
}

const std::string& State::ParamStr(int32_t index) const {
  static const std::string kNone;
  if (index < 0 || index >= static_cast<int32_t>(Args.size())) return kNone;
  return Args[static_cast<size_t>(index)];
}

bool SameAccountName(platform::System& system, std::string_view first, std::string_view second) {
  return system.EqualIgnoringCase(system.AnsiToUtf16(first), system.AnsiToUtf16(second));
}

std::u16string State::TargetMachineName() {
  return TargetServer.remote() ? System.AnsiToUtf16(TargetServer.name()) : std::u16string();
}

TimeLimitedResult State::CallWithinServerTimeout(
    std::function<uint32_t(platform::TerminalServer&)> call) {
  return CallWithinTimeLimit(TargetServer.shared_server(), std::move(call),
                             std::chrono::seconds(ServerTimeoutSeconds));
}

void State::StopAt(int32_t index, std::string_view what) {
  StopRequested = true;
  NoteAt(index, what);
}

void State::NoteAt(int32_t index, std::string_view what) {
  System.WriteStderr("quillmarsh: argument " + std::to_string(index) + " \"" + ParamStr(index) +
                     "\": " + std::string(what) + "\r\n");
}

void State::LogInfo(std::string_view text) {
  if (Log) Log->Info(text);
}

void State::LogError(std::string_view text) {
  if (Log) Log->Error(text);
}

void State::PrintLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  System.WriteStdout(line);
}

void State::PrintBannerBlock() {
  PrintLine(DashLine);
  PrintLine(Banner);
  PrintLine(DashLine);
  PrintLine("");
}

void State::ReportRefusal(std::string_view line, uint32_t code) {
  const std::string error_text = SystemErrorText(Server, code);
  LogError(line);
  LogError(error_text);
  PrintLine(line);
  PrintLine(error_text);
}

}  // namespace quillmarsh
