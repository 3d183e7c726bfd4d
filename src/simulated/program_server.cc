// The terminal server of a program built over the simulation: the file that
// QUILLMARSH_SERVER names, journaled to QUILLMARSH_JOURNAL.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "simulated/simulated_server.h"

namespace quillmarsh::platform {

// This program's terminal server is the simulated one.
std::unique_ptr<TerminalServer> CreateTerminalServer(System& system, std::string* error) {
  using namespace simulated;
  JournalSink journal;
  if (const char* journal_path = std::getenv("QUILLMARSH_JOURNAL");
      journal_path != nullptr && *journal_path != '\0') {
    auto file = std::make_shared<std::ofstream>(journal_path, std::ios::app | std::ios::binary);
    if (!*file) {
      *error = std::string("quillmarsh: journal file ") + journal_path + ": cannot be opened";
      return nullptr;
    }
    journal = [file](const std::string& line) {
      *file << line << '\n';
      file->flush();
    };
  }

  const char* server_path = std::getenv("QUILLMARSH_SERVER");
  if (server_path == nullptr || *server_path == '\0') {
    return CreateServerWithoutTerminalServices(std::move(journal), system.AccountName(),
                                               system.HostName());
  }
  // Read in one piece: a large server's file is then copied once.
  std::error_code failure;
  const uintmax_t size = std::filesystem::is_regular_file(server_path, failure)
                             ? std::filesystem::file_size(server_path, failure)
                             : 0;
  std::ifstream file(server_path, std::ios::binary);
  std::string text;
  if (!failure && file) {
    text.resize(static_cast<size_t>(size));
    file.read(text.data(), static_cast<std::streamsize>(size));
  }
  if (failure || !file || !std::filesystem::is_regular_file(server_path, failure)) {
    *error = std::string("quillmarsh: server file ") + server_path + ": cannot be read";
    return nullptr;
  }
  std::string what;
  auto server = CreateSimulatedServer(text, std::move(journal), system.AccountName(), &what,
                                      ProcessAnsiEncoder(system), system.HostName());
  if (!server) {
    *error = std::string("quillmarsh: server file ") + server_path + ": " + what;
  }
  return server;
}

}  // namespace quillmarsh::platform
