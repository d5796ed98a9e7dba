// The picture files that feeds name: where a downloaded picture may be
// written and which shipped picture a feed may point at. Feed documents come
// from the network, so a name that would leave its folder, reach a device or
// an alternate data stream, or make the shell open a network path is
// refused, and the picture is not shown.
#pragma once

#include <string>

// The file name of a picture's web address: the text after its last "/".
// Empty when there is no "/", or the name is not a plain file name of its
// own: empty, "." or "..", holding "\", ":", a control character or a
// character file names cannot hold, ending in "." or " ", or a device name
// (CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, also with an extension).
std::wstring PictureFileName(const std::wstring& url);

// Whether a path from a feed may be opened as a picture shipped beside the
// library: relative, without drive, root, UNC prefix, ":" or "..", and no
// control character.
bool IsShippedPicturePath(const std::wstring& path);
