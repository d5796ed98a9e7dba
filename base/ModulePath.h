// The library's own module and the files beside it (feeds, pictures, fonts,
// downloads, reports, the update program), resolved against the folder that
// holds the library. Any thread.
#pragma once

#include <windows.h>

#include <string>

// The module this code is part of: the library, or the program a test links
// the library's code into.
HMODULE ThisModule();

// An absolute path is returned unchanged; a relative one is joined to the
// library's folder (empty when the result would not fit MAX_PATH). Returns a
// value rather than a shared buffer because the window thread and the worker
// thread both resolve paths.
std::wstring ModuleRelativePath(const wchar_t* path);
