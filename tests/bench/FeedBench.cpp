// Benchmark: parsing, building and laying out each feed's document of our
// content set, and a 1 MB News document. Prints medians; asserts nothing.
#include "Bench.h"
#include "TestDesktop.h"
#include "base/Desktop.h"
#include "content/ArticleStreams.h"
#include "content/SettingsStreams.h"
#include "gfx/Canvas.h"
#include "ui/Delivery.h"
#include "viewer/Page.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::string ContentDocument(const char* name) {
    std::ostringstream text;
    text << std::ifstream(std::string("Z:") + ORVELLA_CONTENT_DIR + "/" + name, std::ios::binary)
                .rdbuf();
    return text.str();
}

// Takes what the feeds deliver and lays pages out, as the panel does.
struct Panel : Window, FeedOwner {
    using Window::Window;
    Window* FeedTarget() override { return this; }
    std::wstring PageTitle(const wchar_t*) override { return L"Новости банка"; }
    void SetRates(const wchar_t*, const wchar_t*, const wchar_t*) override {}
    void OnContent(int, void* payload) override {
        std::unique_ptr<Page> page(static_cast<Page*>(payload));
        layoutPage(*page, *canvas);
    }
    void OnData(int, void*) override {}
};

template <class Stream>
struct Fed : Stream {
    using Stream::Stream;
    void Build(const std::string& text) {
        JsonValue document;
        if (ParseJson(text.c_str(), text.size(), document))
            this->BuildContent(document);
    }
};

WNDPROC listViewProc = nullptr;
LRESULT CALLBACK Delivering(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == DM_CONTENT || message == DM_DATA)
        return ReceiveWindowMessage(message, wParam, lParam);
    return CallWindowProcW(listViewProc, window, message, wParam, lParam);
}

template <class Stream>
void Measure(Panel& panel, const char* label, const std::string& text, int runs) {
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
    listViewProc =
        WNDPROC(SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, LONG_PTR(Delivering)));
    {
        Canvas canvas(desktop.listView);
        canvas.AddShippedFonts();
        RootWindow root(400, 300, &canvas, desktop.listView);
        Panel panel(0, 0, 10, 10, &root);

        Measure<SettingsStream>(panel, "settings", ContentDocument("settings.json"), 50);
        Measure<RatesStream>(panel, "rates", ContentDocument("rates.json"), 50);
        const std::string news = ContentDocument("news.json");
        Measure<NewsStream>(panel, "news", news, 20);
        Measure<FridayStream>(panel, "friday", ContentDocument("friday.json"), 20);

        // A 1 MB News document: the set's items over and over.
        JsonValue document;
        ParseJson(news.c_str(), news.size(), document);
        JsonValue items = JsonMember(document, "items");
        JsonValue big = {{"items", JsonValue::array()}};
        while (big.dump().size() < (1u << 20))
            for (const JsonValue& item : items)
                big["items"].push_back(item);
        Measure<NewsStream>(panel, "news, 1 MB", big.dump(), 5);
    }
    SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, LONG_PTR(listViewProc));
    return 0;
}
