// The picture files that feeds name: where a downloaded picture may be
// written and which shipped picture a feed may point at. Feed documents come
// from the network, so a name that would leave its folder, reach a device or
// an alternate data stream, or make the shell open a network path is
// refused, and the picture is not shown.
#pragma once

#include "content/Json.h"

#include <cstdint>
#include <set>
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

// The pictures a feed shows from its folder ("exclusive/", "maps/"): those
// one document names are admitted in its order while they stay within the
// picture budgets (base/Budgets.h), and the names a build used in this run
// are kept at its end, when the rest of the folder is deleted. Names are
// compared without letter case, as the file system compares them. Used on
// one thread at a time (the worker's, or the window thread when there is
// no worker thread).
class PictureFolder {
public:
    explicit PictureFolder(const wchar_t* folder) : folder_(folder) {}

    // Downloads the picture of every entry whose "image_url" is a web
    // address, within the budgets. True only when every such picture came
    // anew: a refused name, a shipped picture, a picture that did not
    // change or one past its byte budget counts as failed; those past the
    // count or the folder's budget are left out and do not.
    bool Download(const JsonValue& entries);
    // A document's build starts: nothing of it admitted yet.
    void StartBuild();
    // The picture the entry names, relative to the library's folder, when
    // it may be shown: a name we may use, within the count and the bytes
    // of the pictures admitted before it. Empty otherwise. A picture of the
    // folder is kept at the run's end.
    std::wstring Admit(const JsonValue& entry);
    // Deletes every file of the folder that no build of this run admitted.
    void DeleteUnused() const;

    // Folded file names (without folder) kept at the run's end.
    const std::set<std::wstring>& kept() const { return kept_; }

private:
    // Whether the file at path (relative) fits the document's budgets;
    // charges it when it does. A name admitted before fits again for free.
    bool Fits(const std::wstring& path);

    const wchar_t* folder_;
    std::set<std::wstring> kept_;      // of this run
    std::set<std::wstring> admitted_;  // of the document being built
    uint64_t bytes_ = 0;               // of the admitted pictures
};

// A file name in the case the file system ignores: equal for names that
// name the same file.
std::wstring FoldedName(const std::wstring& name);

// Removes the temporary files that an interrupted write (of a cache, a
// picture or the statistics queue) left in the library's folder and its
// feeds/, maps/ and exclusive/ folders: "orv" and up to four hex digits,
// ".tmp", as the system names them. Other files are left alone.
void RemoveLeftTemporaries();
