// Benchmark: HttpGet of the URLs given on the command line, and the cost of
// a conditional download answered 304. Prints medians; asserts nothing. Run
// by http_bench.py inside the test servers.
#include "Bench.h"
#include "base/Budgets.h"
#include "net/HttpClient.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
    HttpInit();
    for (int i = 1; i < argc; ++i) {
        size_t bytes = 0;
        double ms = MedianMs(30, [&](int) {
            char* body = nullptr;
            if (HttpGet(argv[i], &body, &bytes, nullptr, kFeedDocumentBytes) != 1)
                bytes = 0;
            std::free(body);
        });
        std::printf("HttpGet %ls: %zu bytes, median %.3f ms, %.1f MB/s\n", argv[i], bytes, ms,
                    bytes / 1048576.0 / (ms / 1000.0));
    }
    if (argc > 1) {
        std::wstring local = L"http_bench_copy.bin";
        DownloadFile(argv[1], local.c_str(), kFeedDocumentBytes);
        std::printf("304 round trip (DownloadFile of a current copy): median %.3f ms\n",
                    MedianMs(30, [&](int) {
                        DownloadFile(argv[1], local.c_str(), kFeedDocumentBytes);
                    }));
    }
    HttpRelease();
    return 0;
}
