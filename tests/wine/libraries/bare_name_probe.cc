// Loads the library named on its command line by bare name, as a program
// that imports it or calls LoadLibraryA("name.dll") does, with the loader's
// default search order. Exit code 0 when it was loaded.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return ::LoadLibraryA(argv[1]) != nullptr ? 0 : 1;
}
