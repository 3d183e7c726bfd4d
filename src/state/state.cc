#include "state/state.h"

#include <chrono>
#include <utility>

#include "state/error_text.h"

namespace quillmarsh {

State::State(std::vector<std::string> arguments, std::shared_ptr<platform::TerminalServer> server,
             platform::System& system, std::vector<std::u16string> wide_arguments)
    : Args(std::move(arguments)),
      WideArgs(std::move(wide_arguments)),
      Server(*server),
      System(system),
      TargetServer(std::move(server)) {
  if (Args.empty()) Args.emplace_back();
  if (WideArgs.size() != Args.size()) {
    WideArgs.clear();
    for (const std::string& argument : Args) WideArgs.push_back(System.AnsiToUtf16(argument));
  }
}

const std::string& State::ParamStr(int32_t index) const {
  static const std::string kNone;
  if (index < 0 || index >= static_cast<int32_t>(Args.size())) return kNone;
  return Args[static_cast<size_t>(index)];
}

std::u16string_view State::TrimmedWideParam(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(WideArgs.size())) return {};
  return TrimWide(WideArgs[static_cast<size_t>(index)]);
}

bool SameAccountName(platform::System& system, std::u16string_view first,
                     std::u16string_view second) {
  return system.EqualIgnoringCase(first, second);
}

std::u16string_view TrimWide(std::u16string_view text) {
  while (!text.empty() && text.front() <= 0x20) text.remove_prefix(1);
  while (!text.empty() && text.back() <= 0x20) text.remove_suffix(1);
  return text;
}

DualText operator+(DualText first, const DualText& second) {
  first.ansi += second.ansi;
  first.wide += second.wide;
  return first;
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

void State::LogInfo(std::u16string_view text) {
  if (Log) Log->Info(text);
}

void State::LogError(const DualText& text) {
  if (Log) Log->Error(text.wide);
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

void State::ReportRefusal(const DualText& line, uint32_t code) {
  const std::string error_text = SystemErrorText(Server, code);
  LogError(line);
  LogError(error_text);
  PrintLine(line.ansi);
  PrintLine(error_text);
}

void State::ReportRefusal(std::string_view line, uint32_t code) {
  const std::string error_text = SystemErrorText(Server, code);
  LogError(line);
  LogError(error_text);
  PrintLine(line);
  PrintLine(error_text);
}

}  // namespace quillmarsh
