// Resolving the widget's own files (feeds, pictures, fonts, downloads,
// reports) against the folder that holds the library.
#pragma once

#include <string>

// An absolute path is returned unchanged; a relative one is joined to the
// library's folder (empty when the result would not fit MAX_PATH). Returns a value rather than a shared buffer because the
// window thread and the worker thread both resolve paths.
std::wstring ModuleRelativePath(const wchar_t* path);
