#include <string>
#include <vector>

#include "driver/program.h"
#include "platform/command_line.h"
#include "platform/system.h"
#include "platform/terminal_server.h"

int main(int argc, char** argv) {
  quillmarsh::platform::LoadLibrariesFromSystemFolderOnly();
  auto system = quillmarsh::platform::CreateSystem();
  std::string error;
  auto server = quillmarsh::platform::CreateTerminalServer(*system, &error);
  if (!server) {
    system->WriteStderr(error + "\n");
    return 255;
  }
  return quillmarsh::RunProgram(quillmarsh::platform::ProgramArguments(argc, argv), *server,
                                *system);
}
