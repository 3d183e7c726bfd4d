// A terminal server described by a JSON document: the sessions, the account
// and its token, the version numbers and the failures to produce. Every
// Terminal Services, privilege, shutdown and sleep call is journaled as one
// JSON object per line.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/terminal_server.h"

namespace quillmarsh::platform {

// Receives one journal line (without its line end).
using JournalSink = std::function<void(const std::string&)>;

// Parses `json`; on failure returns null and sets `error` to what is wrong.
// `real_user_name` stands in when the document names no user.
std::unique_ptr<TerminalServer> CreateSimulatedServer(const std::string& json, JournalSink journal,
                                                      const std::string& real_user_name,
                                                      std::string* error);

}  // namespace quillmarsh::platform
