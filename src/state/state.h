// The process-wide state that the driver owns and every command handler
// reads and writes, and the contract between the loop and its handlers.
//
// A handler is entered with `CurrentCommand` equal to its command word and
// `ArgIndex` at that word. It reads its operands as ParamStr(ArgIndex + 1)
// and on, advances `ArgIndex` past what it consumed, may set
// `StopRequested` (only for a missing or invalid operand), may assign
// `ErrorLevel`, writes its log lines first, then its console lines, and
// returns to the loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_writer.h"
#include "platform/system.h"
#include "platform/terminal_server.h"
#include "state/random.h"
#include "state/server_connection.h"
#include "state/time_limited_call.h"

namespace quillmarsh {

inline constexpr uint32_t kUnknownSessionId = 0xFFFFFFFF;

// Two account names equal without regard to letter case, beyond ASCII as
// Windows compares them ("MÜLLER" is "müller"). Names are compared in
// UTF-16, as the server holds them: in a legacy ANSI code page "Иван" and
// "Олег" both read "????".
bool SameAccountName(platform::System& system, std::u16string_view first,
                     std::u16string_view second);

// Removes leading and trailing units 0x00 to 0x20, as Trim does.
std::u16string_view TrimWide(std::u16string_view text);

// A text in both of its forms: the console shows `ansi`, as it always has,
// and the log gets `wide`, so that a name reaches the log as the server
// holds it also where the ANSI code page cannot show it.
struct DualText {
  std::string ansi;
  std::u16string wide;
};
DualText operator+(DualText first, const DualText& second);

// An "/EXCEPT" target: a user holds on every server, a "#id" only on the
// server that was addressed when it was given (session ids are per server).
struct ExceptTarget {
  std::u16string target;
  // The remote server's name as "/SERVER" kept it; empty for this one.
  std::string server;
};

// A machine name for the Windows calls that take one: null for this machine.
inline const char16_t* MachineOrNull(const std::u16string& name) {
  return name.empty() ? nullptr : name.c_str();
}

struct State {
  // `server` is shared with work that may outlive the run (a server check
  // given up on).
  // `wide_arguments` are the same arguments as the command line holds them;
  // empty: converted from `arguments`.
  State(std::vector<std::string> arguments, std::shared_ptr<platform::TerminalServer> server,
        platform::System& system, std::vector<std::u16string> wide_arguments = {});

  int32_t ErrorLevel = 0;
  int32_t ArgIndex = 1;
  bool StopRequested = false;
  int32_t CommandCount = 0;
  std::string CurrentCommand;
  std::unique_ptr<log::LogWriter> Log;
  std::string UserName;
  std::string Banner;
  std::string DashLine;
  bool IncludeOwnSession = true;
  uint32_t MessageTimeout = 0;
  // How long "/SERVER" waits for its check of a remote server.
  uint32_t ServerTimeoutSeconds = 30;
  uint32_t OwnSessionId = kUnknownSessionId;
  uint32_t OsMajorVersion = 0;
  RandomGenerator Random;
  // Set when the user or the system ends the session (Ctrl+C, a signal):
  // no command, action or wait starts after it; a call under way finishes.
  std::atomic<bool> SessionEnded = false;
  // "/EXCEPT": targets, trimmed, that "*ALL" leaves out.
  std::vector<ExceptTarget> ExceptTargets;
  // "/IDLEMINUTES": 0, or the idle minutes a session needs to be acted on.
  uint32_t IdleMinutes = 0;
  // "/CSV": "/SESSIONINFO" writes CSV; the heading row once in a run.
  bool CsvOutput = false;
  bool CsvHeadingWritten = false;
  // "/PROCESSES" writes its own CSV heading, once in a run.
  bool ProcessCsvHeadingWritten = false;
  // "/WHATIF" anywhere on the line: nothing is changed on any server; every call
  // that only reads is still made, and each change that would have been
  // made is reported instead ("What if: ...").
  bool WhatIf = false;
  // "/REASON": the reason code of every later restart or power-off request;
  // planned, operating system, reconfiguration unless given.
  uint32_t ShutdownReason = 0x80020004;

  // Argument 0 is the program itself. `Args` are in the ANSI code page, as
  // the console shows them; `WideArgs` the same in UTF-16, for matching
  // names.
  std::vector<std::string> Args;
  std::vector<std::u16string> WideArgs;
  platform::TerminalServer& Server;
  platform::System& System;
  // The server the session commands address ("/SERVER"); after `Server`,
  // which it closes its handle with.
  ServerConnection TargetServer;

  int32_t ParamCount() const { return static_cast<int32_t>(Args.size()) - 1; }
  // An argument by the platform's numbering; empty beyond the last one.
  const std::string& ParamStr(int32_t index) const;
  // The same argument in UTF-16, trimmed.
  std::u16string_view TrimmedWideParam(int32_t index) const;
  // True when ParamStr(ArgIndex + count) exists.
  bool OperandsFollow(int32_t count) const { return ArgIndex + count <= ParamCount(); }
  // The position of operand `offset` of the command word, or of the word
  // itself when that operand is missing: what StopAt names.
  int32_t OperandOrWord(int32_t offset) const {
    return OperandsFollow(offset) ? ArgIndex + offset : ArgIndex;
  }

  bool SameName(std::u16string_view first, std::u16string_view second) {
    return SameAccountName(System, first, second);
  }
  // An ANSI text in both forms.
  DualText Dual(std::string_view ansi) { return {std::string(ansi), System.AnsiToUtf16(ansi)}; }

  // The name of the server the commands address, in UTF-16 for the calls
  // that take a machine's name; empty for this machine.
  std::u16string TargetMachineName();
  // `call` on a thread of its own, waited for at most "/SERVERTIMEOUT" (1460
  // at the limit): a remote machine may take that long to answer. The call
  // owns copies of everything it reads, since the run may give up on it.
  TimeLimitedResult CallWithinServerTimeout(
      std::function<uint32_t(platform::TerminalServer&)> call);

  // Stops processing at a wrong or missing argument: sets StopRequested and
  // names argument `index` on standard error, "quillmarsh: argument N
  // \"TEXT\": WHAT" (standard output stays as it always was). For a missing
  // operand, `index` is the command word that lacks it.
  void StopAt(int32_t index, std::string_view what);
  // The same line on standard error, and processing goes on: an argument
  // that did something other than the caller likely meant.
  void NoteAt(int32_t index, std::string_view what);

  // Log lines, written only when the log is open.
  void LogInfo(std::string_view text);
  void LogError(std::string_view text);
  void LogInfo(std::u16string_view text);
  void LogInfo(const DualText& text) { LogInfo(text.wide); }
  void LogError(const DualText& text);

  // One console line ending in CR LF.
  void PrintLine(std::string_view text);
  void PrintLine(const DualText& text) { PrintLine(text.ansi); }
  // The banner block: dash line, banner, dash line, empty line.
  void PrintBannerBlock();
  // A refused operation: `line` and the system's text for `code` as error
  // lines of the log, then both on the console.
  void ReportRefusal(std::string_view line, uint32_t code);
  void ReportRefusal(const DualText& line, uint32_t code);
};

using CommandHandler = void (*)(State&);

}  // namespace quillmarsh
