#include <string>
#include <vector>

#include "driver/program.h"
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
  std::vector<std::string> arguments(argv, argv + argc);
  return quillmarsh::RunProgram(std::move(arguments), *server, *system);
}
