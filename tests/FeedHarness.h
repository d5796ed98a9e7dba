// What the feed tests and benchmarks share: a feed built straight from a
// document, a list view that hands deliveries over as the desktop surface
// does, and the documents of our content set.
#pragma once

#include "content/DataStream.h"
#include "content/MapStream.h"
#include "content/SettingsRecord.h"
#include "ui/Delivery.h"
#include "viewer/Page.h"

#include <windows.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// A feed that builds from a text as after a download; false when it does
// not parse.
template <class Stream>
struct Fed : Stream {
    using Stream::Stream;
    bool Build(const std::string& text) {
        JsonValue document;
        if (!ParseJson(text.c_str(), text.size(), document))
            return false;
        this->BuildContent(document);
        return true;
    }
};

// For its lifetime, DM_CONTENT and DM_DATA sent to the list view reach
// their target window; one at a time.
class DeliveringListView {
public:
    explicit DeliveringListView(HWND listView) : listView_(listView) {
        previous_ = WNDPROC(SetWindowLongPtrW(listView, GWLP_WNDPROC, LONG_PTR(Proc)));
    }
    ~DeliveringListView() { SetWindowLongPtrW(listView_, GWLP_WNDPROC, LONG_PTR(previous_)); }
    DeliveringListView(const DeliveringListView&) = delete;
    DeliveringListView& operator=(const DeliveringListView&) = delete;

    // Also seen by the procedure, before the hand-over; null for none.
    static inline void (*watch)(UINT message, WPARAM wParam) = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (watch)
            watch(message, wParam);
        if (message == DM_CONTENT || message == DM_DATA)
            return ReceiveWindowMessage(message, wParam, lParam);
        return CallWindowProcW(previous_, window, message, wParam, lParam);
    }
    static inline WNDPROC previous_ = nullptr;
    HWND listView_;
};

// Lays out every page of a city, as the panel does once each is shown.
inline void LayOutCity(CityMapData& city, Canvas& canvas) {
    layoutPage(*city.mapPage, canvas);
    layoutPage(*city.allOfficesPage, canvas);
    for (auto& page : city.officePages)
        layoutPage(*page, canvas);
}

// A panel that keeps what the feeds deliver to it, laid out first as the
// widget lays it out when layOut is set, and counts every delivery by kind.
struct RecordingPanel : Window, FeedOwner {
    using Window::Window;
    Window* FeedTarget() override { return this; }
    // A page's title: title, or without one "T:" and the feed's name.
    std::wstring PageTitle(const wchar_t* name) override {
        return title ? title : L"T:" + std::wstring(name);
    }
    void OnContent(int kind, void* payload) override {
        std::unique_ptr<Page> page(static_cast<Page*>(payload));
        ++delivered[kind];
        if (layOut)
            layoutPage(*page, *canvas);
        if (keep)
            pages.push_back(std::move(page));
    }
    void OnData(int kind, void* payload) override {
        ++delivered[kind];
        if (kind == CityMapContent) {
            std::unique_ptr<CityMapData> city(static_cast<CityMapData*>(payload));
            if (layOut)
                LayOutCity(*city, *canvas);
            if (keep)
                cities.push_back(std::move(city));
        } else if (kind == RatesContent && keep) {
            rates.emplace_back(static_cast<RatesRecord*>(payload));
        } else if (kind == SettingsContent && keep) {
            settings.emplace_back(static_cast<SettingsRecord*>(payload));
        } else {
            DiscardData(kind, payload);
        }
    }

    const wchar_t* title = nullptr;
    bool layOut = false;
    bool keep = true;
    std::map<int, int> delivered;
    std::vector<std::unique_ptr<Page>> pages;
    std::vector<std::unique_ptr<CityMapData>> cities;
    std::vector<std::unique_ptr<RatesRecord>> rates;
    std::vector<std::unique_ptr<SettingsRecord>> settings;
};

#ifdef ORVELLA_CONTENT_DIR
// A document of our content set, as the build found it.
inline std::string ContentDocument(const char* name) {
    std::ostringstream text;
    text << std::ifstream(std::string("Z:") + ORVELLA_CONTENT_DIR + "/" + name, std::ios::binary)
                .rdbuf();
    return text.str();
}
#endif
