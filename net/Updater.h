// The updater: finds out whether a newer build of the widget is published,
// downloads it beside the library, and starts the update program when the
// build is marked critical. It owns no thread: the worker advances it at
// every online tick. The published build's version and criticality travel
// as headers of the object, so one HEAD answers both questions.
#pragma once

#include <cstdint>
#include <string>

struct Updater {
    std::wstring localPath;       // "orvella_update.tmp" beside the library
    std::wstring url;             // the update object on the storage server
    uint32_t currentVersion = 110;
    uint32_t elapsed = 1800000;   // ms; starts full, so the first online tick checks
    uint32_t period = 1800000;    // 30 minutes
};

void UpdaterInit(Updater& updater);
// Adds step ms and checks once the period has passed.
void UpdaterTick(Updater& updater, uint32_t step);
void CheckForUpdate(Updater& updater);
// Starts the update program with the command line "stub " and does not wait.
bool RunUpdateProgram(const wchar_t* path);
