// Loading a Windows library from the System32 folder only. Windows-only:
// included by the Windows implementation files and their tests.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace quillmarsh::platform {

// Loads `name` (e.g. L"wtsapi32.dll") from System32 and never from the
// program's folder, the current folder or the PATH. With `search_flags`
// (Windows with SetDefaultDllDirectories) LoadLibraryExW is told to search
// System32 only; without them (7 and 2008 R2 lacking KB2533623) the library
// is loaded by its full System32 path, with its own dependencies looked up
// beside it. Null with GetLastError set when it cannot be loaded (126 for
// a missing library).
HMODULE LoadSystemLibrary(const wchar_t* name, bool search_flags);

// Whether this Windows knows the LOAD_LIBRARY_SEARCH_* flags.
bool SystemKnowsSearchFlags();

}  // namespace quillmarsh::platform
