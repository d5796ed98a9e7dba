// The page gallery: lays out the built-in pages, the feeds' pages built from
// our content set and the sample pages, and writes each, as the page viewer
// shows it, to a PNG file, so that layout can be looked at without the
// desktop. A development tool; nothing here ships.
//
// Usage: page_gallery.exe <output folder>. Runs where the library's fonts
// and pictures lie beside it (the build's bin folder).
#include "base/ModulePath.h"
#include "content/ArticleStreams.h"
#include "content/ExclusiveStream.h"
#include "content/MapStream.h"
#include "content/SettingsStreams.h"
#include "content/StaticPages.h"
#include "ui/Delivery.h"
#include "host/DesktopSurface.h"
#include "base/Desktop.h"
#include "ui/Window.h"
#include "gfx/Canvas.h"
#include "viewer/Navigator.h"
#include "gallery/SamplePages.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace gdip;

// The PNG encoder of GDI+.
const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

bool SaveArea(Canvas& canvas, int x, int y, int width, int height, const std::wstring& path) {
    GpBitmap* screen = nullptr;
    if (GdipCreateBitmapFromHBITMAP(
            static_cast<HBITMAP>(GetCurrentObject(canvas.memoryDC(), OBJ_BITMAP)), nullptr, &screen) != Ok)
        return false;
    BitmapPtr whole(screen);
    GpBitmap* area = nullptr;
    if (GdipCloneBitmapAreaI(x, y, width, height, PixelFormat24bppRGB, screen, &area) != Ok)
        return false;
    BitmapPtr part(area);
    return GdipSaveImageToFile(area, path.c_str(), &kPngEncoder, nullptr) == Ok;
}

// Hands deliveries over as the desktop surface does.
LRESULT CALLBACK SurfaceProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == DM_CONTENT || message == DM_DATA)
        return ReceiveWindowMessage(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeSurface() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = SurfaceProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvellaPageGallery";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 400, 900, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

// Receives the feeds' pages and settings as the panel would.
struct Collector : Window, FeedOwner {
    using Window::Window;
    Window* FeedTarget() override { return this; }
    std::wstring PageTitle(const wchar_t* name) override {
        return std::wcscmp(name, L"Friday") == 0 ? settings.title_5 : settings.title_1;
    }
    // A later page replaces one of the same name, as on the panel.
    void OnContent(int, void* payload) override {
        std::unique_ptr<Page> page(static_cast<Page*>(payload));
        for (auto& held : pages)
            if (held && held->name == page->name)
                held.reset();
        pages.push_back(std::move(page));
    }
    void OnData(int kind, void* payload) override {
        if (kind == CityMapContent) {
            cities.emplace_back(static_cast<CityMapData*>(payload));
            return;
        }
        if (kind == SettingsContent)
            settings = *static_cast<const SettingsRecord*>(payload);
        DiscardData(kind, payload);
    }
    SettingsRecord settings = DefaultSettings();
    std::vector<std::unique_ptr<Page>> pages;
    std::vector<std::unique_ptr<CityMapData>> cities;
};

// The content set's pictures of a feed's folder ("exclusive", "maps") beside
// the program, where the feed's pages look for them after a download.
void CopyContentPictures(const wchar_t* folder) {
    const std::wstring from = std::wstring(L"Z:") + L"" ORVELLA_CONTENT_DIR + L"/../" + folder + L"/";
    const std::wstring to = ModuleRelativePath(folder) + L"\\";
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((from + L"*.png").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        CopyFileW((from + entry.cFileName).c_str(), (to + entry.cFileName).c_str(), FALSE);
    while (FindNextFileW(search, &entry));
    FindClose(search);
}

// A feed built from one document of the content set, as after a download.
template <class Stream>
struct FromContentSet : Stream {
    FromContentSet(FeedOwner* owner, const char* name) : Stream(owner) {
        std::ostringstream text;
        text << std::ifstream(std::string("Z:") + ORVELLA_CONTENT_DIR + "/" + name,
                              std::ios::binary)
                    .rdbuf();
        JsonValue document;
        const std::string body = text.str();
        if (ParseJson(body.c_str(), body.size(), document))
            this->BuildContent(document);
        else
            std::printf("%s: does not parse\n", name);
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring folder = argc > 1 ? argv[1] : L".";
    CreateDirectoryW(folder.c_str(), nullptr);
    HWND surface = MakeSurface();
    SetDesktopListView(surface);
    auto canvasOwner = std::make_unique<Canvas>(surface);
    Canvas& canvas = *canvasOwner;
    canvas.AddShippedFonts();

    struct Sample {
        const wchar_t* file;
        std::unique_ptr<Page> page;
    };
    // The builders outlive their pages: the models point at their fonts.
    AboutPageBuilder about;
    ClubPageBuilder club;
    std::vector<Sample> samples;
    RootWindow root(400, 900, &canvas, surface);
    Collector feeds(0, 0, 1, 1, &root);
    FromContentSet<SettingsStream> settings(&feeds, "settings.json");
    FromContentSet<NewsStream> news(&feeds, "news.json");
    FromContentSet<FridayStream> friday(&feeds, "friday.json");
    CopyContentPictures(L"exclusive");
    CopyContentPictures(L"maps");
    FromContentSet<ExclusiveStream> exclusive(&feeds, "exclusive.json");
    FromContentSet<MapStream> maps(&feeds, "maps.json");
    for (auto& page : feeds.pages) {
        if (!page)
            continue;
        const wchar_t* file = page->name == L"News"        ? L"news.png"
                              : page->name == L"Exclusive" ? L"exclusive.png"
                                                           : L"friday.png";
        samples.push_back({file, std::move(page)});
    }
    if (!feeds.cities.empty() && feeds.cities.front()->mapPage)
        samples.push_back({L"map.png", std::move(feeds.cities.front()->mapPage)});
    samples.push_back({L"club.png", club.MakePage(L"Клуб Orvella")});
    samples.push_back({L"about.png", MakeAboutPage(about)});
    samples.push_back({L"articles.png", samples::ArticleList(200)});
    samples.push_back({L"picture_story.png", samples::PictureStory()});
    samples.push_back({L"bullet_list.png", samples::BulletList()});
    samples.push_back({L"partner_columns.png", samples::PartnerColumns()});
    samples.push_back({L"city_map.png", samples::CityMap()});

    int failures = 0;
    {
        for (Sample& sample : samples) {
            layoutPage(*sample.page, canvas);
            // Tall enough for the whole page, within the back buffer.
            int height = int(sample.page->headerHeight) + 8;
            if (sample.page->scene)
                height += int(sample.page->scene->rect.height);
            height = std::min(std::max(height, 120), 760);
            Navigator viewer(10, 10, 280, height, &root);
            viewer.Show();
            viewer.ShowPage(sample.page.get());
            GdipGraphicsClear(canvas.graphics.get(), 0xFFFFFFFFu);
            root.PaintTree(0, 0, 400, 900);
            GdipFlush(canvas.graphics.get(), FlushIntentionSync);
            std::wstring path = folder + L"\\" + sample.file;
            bool saved = SaveArea(canvas, 10, 10, 280, height, path);
            std::printf("%ls: %s (%dx%d)\n", sample.file, saved ? "written" : "FAILED", 280, height);
            failures += saved ? 0 : 1;
            viewer.ShowPage(nullptr);
            viewer.Hide();
        }
    }
    samples.clear();
    canvasOwner.reset();
    DestroyWindow(surface);
    return failures == 0 ? 0 : 1;
}
