// Stands in for the browser in tests: registered as the shell's handler for
// web addresses, it appends the address it was started with to a log file.
//
// Usage: url_recorder.exe <log file> <address>
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 2;
    FILE* log = _wfopen(argv[1], L"a, ccs=UTF-8");
    if (!log)
        return 1;
    std::fwprintf(log, L"%ls\n", argv[2]);
    std::fclose(log);
    return 0;
}
