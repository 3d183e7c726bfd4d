// A terminal server described by a JSON document: the sessions, the account
// and its token, the version numbers and the failures to produce. Every
// Terminal Services, privilege, shutdown and sleep call is journaled as one
// JSON object per line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/terminal_server.h"

namespace quillmarsh::simulated {

// Receives one journal line (without its line end).
using JournalSink = std::function<void(const std::string&)>;

// Turns a UTF-8 text of the document into the process's ANSI code page.
using AnsiEncoder = std::function<std::string(std::string_view utf8)>;

// Parses `json`; on failure returns null and sets `error` to what is wrong.
// `real_user_name` stands in when the document names no user, and
// `real_host_name`, upper-cased, when it names no computer. The names the
// -A calls hand out (users, domains, stations, the account) are passed
// through `to_ansi`, as Windows hands them out in the ANSI code page; without
// it they keep the document's UTF-8 bytes.
std::unique_ptr<platform::TerminalServer> CreateSimulatedServer(
    const std::string& json, JournalSink journal, const std::string& real_user_name,
    std::string* error, const AnsiEncoder& to_ansi = {}, const std::string& real_host_name = {});

// A machine without Terminal Services (no server file): every Terminal
// Services call fails with 120, there is no own session and no right.
std::unique_ptr<platform::TerminalServer> CreateServerWithoutTerminalServices(
    JournalSink journal, const std::string& real_user_name, const std::string& real_host_name);

// The encoder for this process: UTF-8 to UTF-16 to the ANSI code page, as
// `system` converts. Where that code page is UTF-8 the bytes stay the same.
AnsiEncoder ProcessAnsiEncoder(platform::System& system);

}  // namespace quillmarsh::simulated
