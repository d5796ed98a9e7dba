// The calendar clock: the current UTC time, for everything that measures
// time by it (the worker's ticks, the usage statistics). Tests replace it
// to move the clock. Any thread; replaced only while no other thread reads it.
#pragma once

#include <windows.h>

extern void (*utcNowProbe)(FILETIME* now);
