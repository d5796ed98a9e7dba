// The picture files that feeds name: where a downloaded picture may be
// written and which shipped picture a feed may point at. Feed documents come
// from the network, so a name that would leave its folder, reach a device or
// an alternate data stream, or make the shell open a network path is
// refused, and the picture is not shown.
#pragma once

#include "content/Json.h"

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

// The picture an entry of a feed names by "image_url" (read with the
// feed's capacity of 300 units), relative to the library's folder: a web
// address's file in folder ("exclusive/", "maps/"), or a shipped picture's
// own path. Empty when the value names no picture we may show.
std::wstring FeedPicturePath(const JsonValue& entry, const wchar_t* folder);

// Downloads the picture of every entry whose "image_url" is a web address
// into folder. True only when every entry's picture came anew: a refused
// name, a shipped picture or a picture that did not change counts as failed.
bool DownloadFeedPictures(const JsonValue& entries, const wchar_t* folder);
