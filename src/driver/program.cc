#include "driver/program.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>

#include "driver/commands.h"
#include "driver/help_screen.h"
#include "driver/temp_directory.h"
#include "machine/os_version.h"
#include "state/error_text.h"
#include "state/state.h"
#include "state/text.h"
#include "state/zeroed_buffer.h"

namespace quillmarsh {
namespace {

constexpr std::string_view kWrongCommand = "Wrong or unknown command. Type /?  for information";
constexpr int32_t kMaxPasses = 100;
constexpr uint32_t kUserNameBufferSize = 1024;

// True when some argument is "/" followed by `word` in any letter case.
bool SwitchPresent(const State& state, std::string_view word) {
  const std::string upper_word = UpperAscii(word);
  for (int32_t i = 1; i <= state.ParamCount(); ++i) {
    const std::string& argument = state.ParamStr(i);
    if (!argument.empty() && argument[0] == '/' &&
        UpperAscii(std::string_view(argument).substr(1)) == upper_word) {
      return true;
    }
  }
  return false;
}

void StartUpUnits(State& state) {
  uint32_t session_id = kUnknownSessionId;
  if (state.Server.ProcessIdToSessionId(state.System.CurrentProcessId(), &session_id)) {
    state.OwnSessionId = session_id;
  }
  state.OsMajorVersion = machine::DetermineOsMajorVersion(state.Server);
  state.Random.Seed(state.Server.UtcMillisecondsOfDay());
}

// Closes the log when the session ends during the run. The system calls
// it on a thread of its own, at any point of a command or of the normal
// close; the writer's Close is safe against the command thread and acts
// once. The handler sees the writer only once it exists, and it is disarmed
// before the writer is released.
class EndOfSessionLogCloser {
 public:
  // Before the log's thread starts: it inherits what the handler needs.
  // `session_ended` is set first, so that nothing new starts while the log
  // closes and the process ends.
  void Install(platform::System& system, std::atomic<bool>* session_ended) {
    session_ended_ = session_ended;
    handler_ = system.InstallEndOfSessionHandler([this] { session_ended_->store(true); },
                                                 [this] { CloseLog(); });
  }
  void Publish(log::LogWriter* log) {
    std::lock_guard lock(mutex_);
    log_ = log;
  }
  // Waits for a close in progress; afterwards the log is left alone.
  void Uninstall() {
    handler_.reset();
    Publish(nullptr);
  }

 private:
  void CloseLog() {
    std::lock_guard lock(mutex_);
    if (log_ == nullptr) return;
    try {
      log_->Close();
    } catch (...) {
    }
  }

  std::mutex mutex_;
  std::atomic<bool>* session_ended_ = nullptr;
  log::LogWriter* log_ = nullptr;
  std::unique_ptr<platform::EndOfSessionHandler> handler_;
};

void OpenLog(State& state, EndOfSessionLogCloser& end_of_session) {
  try {
    std::u16string file_name = state.System.AnsiToUtf16(TempDirectory(state.System));
    if (file_name.empty() || (file_name.back() != u'\\' && file_name.back() != u'/')) {
      file_name += u'\\';
    }
    file_name += u"quillmarsh.log";
    log::LogWriter::Options options;
    options.file_name = std::move(file_name);
    options.max_size_kb = 200;
    options.direct = false;
    options.own_session_id = state.OwnSessionId;
    platform::TerminalServer& server = state.Server;
    end_of_session.Install(state.System, &state.SessionEnded);
    state.Log = std::make_unique<log::LogWriter>(
        state.System, [&server](uint32_t code) { return SystemErrorText(server, code); },
        std::move(options));
    if (state.Log->Opened()) {
      end_of_session.Publish(state.Log.get());
      return;
    }
    // Standard output stays as in a run without "/LOGFILE"; the reason goes
    // to standard error, so that a batch file's log is not silently missing.
    state.System.WriteStderr("quillmarsh: the log file cannot be opened: " +
                             state.Log->OpenFailure() + "; running without a log\r\n");
    try {
      state.Log->Close();
    } catch (...) {
    }
  } catch (...) {
  }
  // No log: the end of the session ends the run as it always did.
  end_of_session.Uninstall();
  state.Log.reset();
}

void RunCommandLoop(State& state, EndOfSessionLogCloser& end_of_session) {
  state.ArgIndex = 1;
  state.StopRequested = false;
  state.CommandCount = 0;
  if (SwitchPresent(state, "logfile")) OpenLog(state, end_of_session);
  // A rehearsal holds for the whole line, also for what stands before the
  // word or where the word is another command's operand: a line that says
  // "/WHATIF" anywhere must never change anything.
  if (SwitchPresent(state, "whatif")) {
    state.WhatIf = true;
    state.LogInfo("What if: on");
  }
  while (state.ParamCount() >= state.ArgIndex && !state.StopRequested &&
         state.CommandCount < kMaxPasses && !state.SessionEnded) {
    ++state.CommandCount;
    state.CurrentCommand = UpperAscii(state.ParamStr(state.ArgIndex));
    CommandHandler handler = nullptr;
    for (const Command& command : CommandTable()) {
      if (command.word == state.CurrentCommand) {
        handler = command.handler;
        break;
      }
    }
    if (handler != nullptr) {
      handler(state);
    } else {
      state.StopAt(state.ArgIndex, "unknown command");
    }
    if (state.StopRequested) {
      state.PrintBannerBlock();
      state.PrintLine(kWrongCommand);
      state.LogError(kWrongCommand);
    }
  }
  // The limit must never cut a batch line without a word: the rest of it
  // (more servers, the last step) was not run.
  if (state.CommandCount >= kMaxPasses && state.ParamCount() >= state.ArgIndex &&
      !state.StopRequested && !state.SessionEnded) {
    const std::string line = "quillmarsh: stopped after " + std::to_string(kMaxPasses) +
                             " commands; arguments " + std::to_string(state.ArgIndex) + " to " +
                             std::to_string(state.ParamCount()) + " were not run";
    state.LogError(line);
    state.System.WriteStderr(line + "\r\n");
  }
}

void CloseLog(State& state, EndOfSessionLogCloser& end_of_session) {
  if (!state.Log) return;
  try {
    state.Log->Close();
  } catch (...) {
  }
  end_of_session.Uninstall();
  state.Log.reset();
}

}  // namespace

int RunProgram(std::vector<std::string> arguments, platform::TerminalServer& server,
               platform::System& system) {
  // Not owned: an empty owner with the server's address.
  return RunProgram(std::move(arguments),
                    std::shared_ptr<platform::TerminalServer>(std::shared_ptr<void>(), &server),
                    system);
}

int RunProgram(std::vector<std::string> arguments,
               std::shared_ptr<platform::TerminalServer> shared_server, platform::System& system,
               std::vector<std::u16string> wide_arguments) {
  platform::TerminalServer& server = *shared_server;
  State state(std::move(arguments), std::move(shared_server), system, std::move(wide_arguments));
  // Released before the state, whatever happens.
  EndOfSessionLogCloser end_of_session;
  StartUpUnits(state);

  state.ErrorLevel = 0;
  state.MessageTimeout = 0;
  auto user_name = std::make_unique<ZeroedBuffer>(kUserNameBufferSize);
  uint32_t size = kUserNameBufferSize;
  server.GetUserNameA(reinterpret_cast<char*>(user_name->data()), &size);
  state.UserName.assign(
      reinterpret_cast<const char*>(user_name->data()),
      strnlen(reinterpret_cast<const char*>(user_name->data()), kUserNameBufferSize));
  state.Banner = "Terminal Server";
  state.Banner += " commandline tool :: version ";
  state.Banner += "2.2.174.19";
  while (state.DashLine.size() < state.Banner.size()) state.DashLine += '-';

  std::exception_ptr failure;
  try {
    if (SwitchPresent(state, "?")) {
      PrintHelpScreen(state);
    } else if (state.ParamCount() < 1) {
      state.PrintBannerBlock();
      state.PrintLine("Type /?  for information");
    } else {
      RunCommandLoop(state, end_of_session);
    }
  } catch (...) {
    failure = std::current_exception();
  }

  user_name.reset();
  // A remote server's handle is closed on every path, a stop and a failure
  // included.
  state.TargetServer.Close();
  CloseLog(state, end_of_session);
  system.FlushStdout();
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& error) {
      state.System.WriteStderr(std::string("quillmarsh: unexpected failure: ") + error.what() +
                               "\n");
    } catch (...) {
      state.System.WriteStderr("quillmarsh: unexpected failure\n");
    }
  }
  return state.ErrorLevel;
}

}  // namespace quillmarsh
