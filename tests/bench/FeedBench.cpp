// Benchmark: parsing, building and laying out each feed's document of our
// content set (the Map's three cities and eleven offices among them), a
// 200-offer Exclusive document and a 1 MB News document; run inside
// with_servers.py, also
// the time from a changed News document on nginx to its page laid out in
// the panel at the next tick (download, parse, build, delivery, layout).
// Prints medians; asserts nothing.
#include "Bench.h"
#include "Documents.h"
#include "ServedFiles.h"
#include "TestDesktop.h"
#include "base/Budgets.h"
#include "base/Desktop.h"
#include "content/ArticleStreams.h"
#include "content/ExclusiveStream.h"
#include "content/MapStream.h"
#include "content/SettingsStreams.h"
#include "base/WidgetKey.h"
#include "net/HttpClient.h"
#include "gfx/Canvas.h"
#include "ui/Delivery.h"
#include "viewer/Page.h"

#include <psapi.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace {

template <class Stream>
void Measure(RecordingPanel& panel, const char* label, const std::string& text, int runs) {
    Fed<Stream> stream(&panel);
    JsonValue document;
    double parseMs = MedianMs(runs, [&](int) { ParseJson(text.c_str(), text.size(), document); });
    double wholeMs = MedianMs(runs, [&](int) { stream.Build(text); });
    std::printf("feed %s (%zu bytes): parse median %.3f ms, parse + build + layout median %.3f ms\n",
                label, text.size(), parseMs, wholeMs);
}

}  // namespace

int main() {
    TestDesktop desktop;
    SetDesktopListView(desktop.listView);
    SetClosingRequested(false);
    DeliveringListView delivering(desktop.listView);
    {
        Canvas canvas(desktop.listView);
        canvas.AddShippedFonts();
        RootWindow root(400, 300, &canvas, desktop.listView);
        // Takes what the feeds deliver and lays pages out, as the panel does.
        RecordingPanel panel(0, 0, 10, 10, &root);
        panel.title = L"Новости банка";
        panel.layOut = true;
        panel.keep = false;

        Measure<SettingsStream>(panel, "settings", ContentDocument("settings.json"), 50);
        Measure<RatesStream>(panel, "rates", ContentDocument("rates.json"), 50);
        const std::string news = ContentDocument("news.json");
        Measure<NewsStream>(panel, "news", news, 20);
        Measure<FridayStream>(panel, "friday", ContentDocument("friday.json"), 20);

        const std::string exclusive = ContentDocument("exclusive.json");
        Measure<ExclusiveStream>(panel, "exclusive", exclusive, 20);
        Measure<ExclusiveStream>(panel, "exclusive, 200 offers",
                                 RepeatedDocument("exclusive.json", 200), 5);
        Measure<MapStream>(panel, "maps", ContentDocument("maps.json"), 20);

        // A 1 MB News document: the set's items over and over.
        JsonValue document;
        ParseJson(news.c_str(), news.size(), document);
        JsonValue items = JsonMember(document, "items");
        JsonValue big = {{"items", JsonValue::array()}};
        while (big.dump().size() < (1u << 20))
            for (const JsonValue& item : items)
                big["items"].push_back(item);
        Measure<NewsStream>(panel, "news, 1 MB (its first articles up to the budget shown)",
                            big.dump(), 5);

        // Each feed at its budgets: as many items as are shown, and a
        // document of the most bytes that are read.
        const std::string full = RepeatedDocument("news.json", kArticleItems);
        Measure<NewsStream>(panel, "news at its budget of articles", full, 5);
        Measure<NewsStream>(panel, "news at its budgets of articles and bytes",
                            PaddedDocument(full, kFeedDocumentBytes), 5);
        Measure<FridayStream>(panel, "friday at its budget of events",
                              RepeatedDocument("friday.json", kArticleItems), 5);
        Measure<ExclusiveStream>(panel, "exclusive at its budget of offers",
                                 RepeatedDocument("exclusive.json", kOfferItems), 5);
        Measure<MapStream>(panel, "maps at its budgets of cities and offices (every page)",
                           RepeatedDocument("maps.json", kMapCities, kCityOffices), 3);
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        std::printf("private bytes at the peak, every feed built and laid out at its budgets: "
                    "%.1f MB\n", double(counters.PeakPagefileUsage) / (1 << 20));

        if (!Env(L"ORVELLA_WWW").empty()) {
            SetWidgetValue(L"ContentServer", L"127.0.0.1");
            HttpInit();
            NewsStream live(&panel);
            live.url = ContentServerUrl(L"/media/data/news.json");
            double changedMs = MedianMs(20, [&](int run) {
                // A new version on the server, then the tick that finds it.
                Serve(L"\\media\\data\\news.json", news, 10 * (run + 1));
                live.Refresh(live.period + 1);
            });
            std::printf("changed News document to its new page at the next tick: median %.2f ms\n",
                        changedMs);
            HttpRelease();
            WidgetKey::Erase();
        }
    }
    return 0;
}
