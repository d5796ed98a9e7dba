// The calendar clock; see Clock.h.
#include "base/Clock.h"

namespace {

void SystemUtcNow(FILETIME* now) {
    GetSystemTimeAsFileTime(now);
}

}  // namespace

void (*utcNowProbe)(FILETIME* now) = SystemUtcNow;
