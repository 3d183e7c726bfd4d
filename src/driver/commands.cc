#include "driver/commands.h"

#include <array>
#include <string>

#include "actions/ask.h"
#include "actions/connect.h"
#include "actions/end_process.h"
#include "actions/message.h"
#include "actions/session_action.h"
#include "machine/exit_windows.h"
#include "machine/logon_mode.h"
#include "machine/scheduled_shutdown.h"
#include "machine/shutdown_reason.h"
#include "machine/sleep.h"
#include "sessions/processes.h"
#include "sessions/server_command.h"
#include "sessions/session_info.h"
#include "sessions/session_listing.h"
#include "sessions/session_status.h"
#include "sessions/wait_empty.h"

namespace quillmarsh {
namespace {

void NotMeCommand(State& state) {
  state.IncludeOwnSession = false;
  state.LogInfo("not applying session: #" + std::to_string(state.OwnSessionId));
  ++state.ArgIndex;
}

// "/LOGFILE" and "/WHATIF" hold for the whole line and take effect before
// the loop (the log is opened, the rehearsal set); the word only moves on.
void WholeLineSwitchCommand(State& state) { ++state.ArgIndex; }

constexpr std::array kCommands = {
    Command{"/NOTME", NotMeCommand},
    Command{"/LOGFILE", WholeLineSwitchCommand},
    Command{"/MESSAGE", actions::MessageCommand},
    Command{"/LISTALLSESSIONS", sessions::ListSessionsCommand},
    Command{"/LISTACTIVESESSIONS", sessions::ListSessionsCommand},
    Command{"/DISCONNECT", actions::DisconnectCommand},
    Command{"/LOGOFF", actions::LogoffCommand},
    Command{"/MESSAGETIMEOUT", actions::MessageTimeoutCommand},
    Command{"/STATUS", sessions::StatusCommand},
    Command{"/REBOOT", machine::ExitWindowsCommand},
    Command{"/REBOOTFORCE", machine::ExitWindowsCommand},
    Command{"/SHUTDOWN", machine::ExitWindowsCommand},
    Command{"/SHUTDOWNFORCE", machine::ExitWindowsCommand},
    Command{"/LOGOFFME", machine::ExitWindowsCommand},
    Command{"/SLEEP", machine::SleepCommand},
    Command{"/SERVER", sessions::ServerCommand},
    Command{"/SERVERTIMEOUT", sessions::ServerTimeoutCommand},
    Command{"/LOGOFFDISCONNECTED", actions::LogoffDisconnectedCommand},
    Command{"/SESSIONINFO", sessions::SessionInfoCommand},
    Command{"/CSV", sessions::CsvCommand},
    Command{"/IDLEMINUTES", sessions::IdleMinutesCommand},
    Command{"/EXCEPT", sessions::ExceptCommand},
    Command{"/REBOOTIN", machine::ScheduledShutdownCommand},
    Command{"/SHUTDOWNIN", machine::ScheduledShutdownCommand},
    Command{"/ABORTSHUTDOWN", machine::AbortShutdownCommand},
    Command{"/WHATIF", WholeLineSwitchCommand},
    Command{"/LOGONS", machine::LogonModeCommand},
    Command{"/PROCESSES", sessions::ProcessesCommand},
    Command{"/ENDPROCESS", actions::EndProcessCommand},
    Command{"/CONNECT", actions::ConnectCommand},
    Command{"/ASK", actions::AskCommand},
    Command{"/WAITEMPTY", sessions::WaitEmptyCommand},
    Command{"/REASON", machine::ReasonCommand},
};

}  // namespace

std::span<const Command> CommandTable() { return kCommands; }

}  // namespace quillmarsh
