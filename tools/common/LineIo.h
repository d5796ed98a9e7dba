// Line-based standard input and output for the stand-ins. The end to end
// tests drive them through pipes and wait for each answer line, so every
// line is flushed at once, and commands are read on a thread of their own
// while the window thread keeps pumping messages.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>

// Prints one line and flushes it: a reader on the other end of a pipe must
// see it before the next command is sent.
__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
inline void PrintLine(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Starts a thread that calls onLine for every line of standard input,
// without its line end. When the input is a pipe its end means the driver
// is gone, and onEnd is called. A terminal or the null device is someone
// trying things by hand: there the end of input ends nothing, and the
// program lives until its window is closed. Both callbacks run on the
// reader thread.
inline void ReadStdinLines(std::function<void(const std::string&)> onLine,
                           std::function<void()> onEnd) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return;
    bool endIsFinal = GetFileType(input) == FILE_TYPE_PIPE;
    std::thread([input, endIsFinal, onLine = std::move(onLine), onEnd = std::move(onEnd)] {
        std::string pending;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(input, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
            pending.append(chunk, got);
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                onLine(line);
            }
        }
        if (!pending.empty())
            onLine(pending);
        if (endIsFinal)
            onEnd();
    }).detach();
}
