#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/program.h"
#include "platform/command_line.h"
#include "platform/system.h"
#include "platform/terminal_server.h"

int main(int argc, char** argv) {
  quillmarsh::platform::LoadLibrariesFromSystemFolderOnly();
  auto system = quillmarsh::platform::CreateSystem();
  std::string error;
  // Shared: a server check still under way at the end keeps it alive.
  std::shared_ptr<quillmarsh::platform::TerminalServer> server =
      quillmarsh::platform::CreateTerminalServer(*system, &error);
  if (!server) {
    system->WriteStderr(error + "\n");
    return 255;
  }
  quillmarsh::platform::ArgumentList arguments = quillmarsh::platform::ProgramArguments(argc, argv);
  return quillmarsh::RunProgram(std::move(arguments.ansi), std::move(server), *system,
                                std::move(arguments.wide));
}
