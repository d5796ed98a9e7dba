// The widget panel; see Widget.h.
#include "widget/Widget.h"

#include "base/Text.h"

#include "base/EventListener.h"
#include "content/ArticleStreams.h"
#include "content/StaticPages.h"
#include "gfx/Canvas.h"
#include "gfx/Palette.h"
#include "radio/Radio.h"
#include "stats/StatHarvester.h"
#include "ui/Delivery.h"
#include "widget/Rates.h"
#include "widget/WidgetSettings.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>

namespace {

void DecodeAhead(const Page* page, const Canvas* canvas);

const wchar_t* const kBackgrounds[Widget::kTabs] = {
    L"images/fon_1.png", L"images/fon_2.png", L"images/fon_3.png",
    L"images/fon_4.png", L"images/fon_5.png", L"images/info.png"};
const IntRect kTabRects[Widget::kTabs] = {{20, 35, 72, 62},  {92, 35, 72, 62},
                                          {164, 35, 72, 62}, {236, 35, 72, 62},
                                          {20, 395, 72, 62}, {270, 9, 13, 22}};
const IntRect kPageArea{19, 94, 280, 297};
const IntRect kMapPageArea{19, 94, 280, 268};
constexpr wchar_t kBankingLabel[] = L"Вход в интернет-банк";

bool Inside(const IntRect& r, int x, int y) {
    return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return text && std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// Opens a web address with the shell. Only web addresses: the online-banking
// address comes from a downloaded document, and a tampered one must not make
// a click start a program, open a local file or add to the browser's
// command line.
void OpenWebAddress(const wchar_t* url) {
    if (IsWebAddress(url))
        ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOW);
}

}  // namespace

bool IsWebAddress(const wchar_t* url) {
    if (!StartsWith(url, L"http://") && !StartsWith(url, L"https://"))
        return false;
    // The shell puts the address into the browser's command line: a space or
    // a quote there would end it and start another argument, and a browser
    // may take a control character for a break as well.
    for (const wchar_t* c = url; *c; ++c) {
        if (*c <= L' ' || *c == 0x7F || *c == L'"' || *c == L'\'')
            return false;
    }
    return true;
}

const wchar_t* const Widget::tabNames[Widget::kTabs] = {L"News",      L"Club",   L"Map",
                                                         L"Exclusive", L"Friday", L"About"};

std::chrono::steady_clock::duration Widget::layoutSlice = std::chrono::milliseconds(8);

Widget::Widget(Window* parent)
    : Window(0, 0, kWidth, kHeight, parent), settings(DefaultSettings()) {
    UpdateRegion();
    // What the first paint shows is decoded beside the window thread while
    // it loads the fonts and builds the current tab's page; first the strip
    // under an article page's headers, which its layout already needs.
    const int savedTab = SavedTab();
    std::vector<std::wstring> firstPictures;
    if (savedTab == kNewsTab || savedTab == kFridayTab)
        firstPictures.push_back(savedTab == kNewsTab ? kNewsStripPicture : kFridayStripPicture);
    for (const wchar_t* path : {kBackgrounds[savedTab], kButtonPicture, kHandlePicture,
                                kBarBackgroundPicture, kBarPicture})
        firstPictures.push_back(path);
    // Then each page's pictures as the page arrives, and a tab's background
    // when the pointer comes over the tab: its first show finds them
    // decoded. Ended by prefetchJoin, whatever happens from here on.
    gdip::PrefetchPictures(std::move(firstPictures));
    if (canvas) {
        canvas->AddShippedFonts();
    }
    for (int tab = 0; tab < kTabs; ++tab)
        backgrounds[tab] = gdip::LazyPicture(kBackgrounds[tab]);
    for (int tab = 0; tab < kTabs; ++tab) {
        const IntRect& r = kTabRects[tab];
        tabButtons[tab] = std::make_unique<Button>(r.x, r.y, r.width, r.height, SelectTabCommand,
                                                   tab, nullptr, &selectedTabButton, this);
        tabButtons[tab]->enterCommand = TabPointed;
    }
    closeButton = std::make_unique<Button>(290, 15, 11, 13, ToggleShown, 0,
                                           L"images/cross_on.png", nullptr, this);
    headerFont = canvas ? canvas->GetFont(kRegularFamily, 13, FontRegular) : nullptr;
    bankingFont = headerFont;

    navigator = std::make_unique<Navigator>(kPageArea.x, kPageArea.y, kPageArea.width,
                                            kPageArea.height, this);
    navigator->Show();
    radio = std::make_unique<Radio>(this, &settings);
    radio->Show();
    rates = std::make_unique<Rates>(this);
    rates->Show();
    citySelect = std::make_unique<Select>(80, 369, 200, 21, &cityModel, this);

    LoadWidgetSettings(*this);
    statistics = std::make_shared<StatHarvester>(currentTab, this, GetWidgetUID(*this));
    statistics->LoadReports();
    RegisterEventListener(statistics.get());
    clubPages = std::make_unique<ClubPageBuilder>(this, settings.title_2);
    aboutPages = std::make_unique<AboutPageBuilder>(this);
    BuildAboutPage(*aboutPages);

    BroadcastEvent(WidgetStarted, 0);
    BroadcastEvent(WidgetShown, 0);
}

Widget::~Widget() {
    // Closes the statistics' period; the worker has stopped by now.
    BroadcastEvent(WidgetExiting, 0);
    UnregisterEventListener(statistics.get());
    statistics->ForgetPanel();
    statistics->SaveReports();
    SaveWidgetSettings(*this);
    if (root->CaptureWindow() == citySelect->popup.get() || root->CaptureWindow() == this)
        root->ReleaseMouseCapture();
    KillWindowTimer(kLayoutTimer);
    navigator->ShowPage(nullptr);
    pendingPage = nullptr;
    retiringPage.reset();
    for (auto& button : tabButtons)
        button->Hide();
    closeButton->Hide();
    citySelect->Hide();
    navigator->Hide();
    radio->Hide();
    rates->Hide();
    tabButtons = {};
    closeButton.reset();
    citySelect.reset();
    navigator.reset();
    radio.reset();
    rates.reset();
    pages.clear();
    clubPages.reset();
    aboutPages.reset();
}

Widget::PrefetchJoin::~PrefetchJoin() {
    // Nothing decoded ahead outlives the panel.
    gdip::EndPrefetch();
}

void Widget::Paint() {
    gdip::GpImage* background = backgrounds[currentTab].get();
    canvas->DrawImage(background, 0, 0);
    // Where the card under the page is plain, the viewer keeps the page on
    // its colour; found again only for another picture or page area.
    const RECT area{navigator->x, navigator->y, navigator->x + navigator->width,
                    navigator->y + navigator->height};
    if (background != backdropPicture || !EqualRect(&area, &backdropArea)) {
        backdropPicture = background;
        backdropArea = area;
        navigator->backdrop = gdip::SolidColour(background, area);
    }
    auto measured = [&](const wchar_t* text, gdip::GpFont* font) {
        float line = float(int(canvas->FontHeight(font)));
        return canvas->MeasureText(text, font, 280, line).Width - 2;
    };
    if (phoneHover) {
        const IntRect& p = phoneRect;
        canvas->DrawImage(phoneHoverImage.get(), float(p.x + 2), float(p.y + 2));
        wchar_t lead[110];
        std::swprintf(lead, 110, L"%ls ", settings.phone_text);
        float leadWidth = measured(lead, headerFont);
        float numberWidth = measured(settings.phone_number, headerFont);
        canvas->DrawImage(phoneBubbleImage.get(), float(p.x + 10), float(p.y - 3),
                          leadWidth + numberWidth + 25, 32);
        canvas->DrawText(lead, headerFont, palette::Black, float(p.x + 25), float(p.y + 2));
        canvas->DrawText(settings.phone_number, headerFont, palette::Red,
                         float(p.x + 25) + leadWidth, float(p.y + 2));
    }
    if (bankingHover && bankingPopupImage.get()) {
        float popupWidth = 0, popupHeight = 0;
        gdip::PictureSize(bankingPopupImage.get(), popupWidth, popupHeight);
        float labelWidth = measured(kBankingLabel, bankingFont);
        int px = bankingRect.x - (int(popupWidth) - bankingRect.width) / 2;
        int py = bankingRect.y + bankingRect.height + 2;
        canvas->DrawImage(bankingPopupImage.get(), float(px), float(py));
        canvas->DrawText(kBankingLabel, bankingFont, palette::Black,
                         float(px) + (float(popupWidth) - labelWidth) * 0.5f, float(py + 12));
    }
}

void Widget::OnMouseDown(MouseEvent& event) {
    if (Inside(bankingRect, event.x, event.y)) {
        BroadcastEvent(EnterClicked, 0);
        bankingHover = false;
        ShowSystemCursor(IDC_ARROW);
        Invalidate();
        OpenWebAddress(settings.online_banking);
        return;
    }
    root->SetMouseCapture(this);
    dragAnchor = POINT{event.x, event.y};
}

void Widget::OnMouseUp(MouseEvent&) {
    root->ReleaseMouseCapture();
}

void Widget::OnMouseMove(MouseEvent& event) {
    if (root->CaptureWindow() == this) {
        MoveBy(event.x - dragAnchor.x, event.y - dragAnchor.y);
        return;
    }
    bool overPhone = Inside(phoneRect, event.x, event.y);
    if (overPhone != phoneHover) {
        phoneHover = overPhone;
        Invalidate();
        if (overPhone)
            BroadcastEvent(PhoneHovered, 0);
    }
    bool overBanking = Inside(bankingRect, event.x, event.y);
    if (overBanking != bankingHover) {
        bankingHover = overBanking;
        Invalidate();
        ShowSystemCursor(overBanking ? IDC_HAND : IDC_ARROW);
    }
}

void Widget::OnMouseLeave(MouseEvent&) {
    if (!phoneHover && !bankingHover)
        return;
    phoneHover = false;
    bankingHover = false;
    Invalidate();
}

void Widget::OnCommand(int code, int param) {
    switch (code) {
    case SelectTabCommand:
        // Any param picks one of the six tabs, never an index outside them.
        SelectTab(((param % kTabs) + kTabs) % kTabs);
        break;
    case TabPointed:
        if (param >= 0 && param < kTabs && !backgrounds[size_t(param)].tried())
            gdip::PrefetchPictures({kBackgrounds[param]});
        break;
    case ToggleShown:
        if (attached) {
            // An open city list belongs to the root: close it with the panel.
            if (root->CaptureWindow() == citySelect->popup.get())
                root->ReleaseMouseCapture();
            Hide();
            BroadcastEvent(WidgetHidden, 0);
        } else {
            Show();
            BroadcastEvent(WidgetShown, 0);
        }
        break;
    case CityChanged:
        if (CityMapData* city = SelectedCity()) {
            ShowPage(secondCityPage ? city->allOfficesPage.get() : city->mapPage.get());
            Invalidate();
            BroadcastEvent(CityChosen, 0);
            // The selector's arrows step to a neighbour next: its map is
            // decoded (and on a scaled screen drawn at its size) meanwhile.
            for (int step : {1, -1}) {
                const size_t next = size_t(cityModel.selected + step);
                if (cityModel.selected + step >= 0 && next < cityRecords.size())
                    DecodeAhead(cityRecords[next]->mapPage.get(), canvas);
            }
        }
        break;
    default:
        break;
    }
}

CityMapData* Widget::SelectedCity() const {
    const int index = cityModel.selected;
    if (index < 0 || size_t(index) >= cityRecords.size())
        return nullptr;
    return cityRecords[size_t(index)].get();
}

void Widget::SelectTab(int tab) {
    currentTab = tab;
    BroadcastEvent(TabSelected, tab);
    const IntRect& area = tab == kMapTab ? kMapPageArea : kPageArea;
    navigator->x = area.x;
    navigator->y = area.y;
    navigator->width = area.width;
    navigator->height = area.height;
    navigator->UpdateRegion();
    navigator->OnResize();
    if (tab == kMapTab) {
        CityMapData* city = SelectedCity();
        ShowPage(city ? city->currentPage : nullptr);
        Invalidate();
        citySelect->Show();
        return;
    }
    citySelect->Hide();
    Page* shown = nullptr;
    for (auto& page : pages) {
        if (page->name == tabNames[tab]) {
            shown = page.get();
            break;
        }
    }
    ShowPage(shown);
    Invalidate();
}

namespace {

// Queues the pictures of a page that is not yet laid out for decoding
// ahead, but for those the canvas holds already: its layout takes those.
void DecodeAhead(const Page* page, const Canvas* canvas) {
    if (!page)
        return;
    std::vector<std::wstring> paths;
    if (page->model)
        CollectPictures(*page->model, paths);
    if (page->overlayModel)
        CollectPictures(*page->overlayModel, paths);
    if (canvas)
        paths.erase(std::remove_if(paths.begin(), paths.end(),
                                   [&](const std::wstring& path) {
                                       return canvas->HoldsImage(path);
                                   }),
                    paths.end());
    gdip::PrefetchPictures(std::move(paths));
}

}  // namespace

void Widget::OnContent(int kind, void* payload) {
    if (kind != PageContent || !payload)
        return;
    // Laid out between messages, ahead of its first show: at start every
    // feed delivers its cached pages at once, and a long page laid out in
    // one message would keep the desktop from answering.
    std::unique_ptr<Page> page(static_cast<Page*>(payload));
    Page* arrived = page.get();
    DecodeAhead(arrived, canvas);
    bool replaced = false;
    for (auto& held : pages) {
        if (held->name == arrived->name) {
            if (navigator->page == held.get()) {
                // Stays on the screen until the new one is laid out.
                Release(retiringPage.get());
                retiringPage = std::move(held);
            } else {
                Release(held.get());
            }
            held = std::move(page);
            replaced = true;
            break;
        }
    }
    if (!replaced)
        pages.push_back(std::move(page));
    if (arrived->name == tabNames[currentTab])
        ShowPage(arrived);
    else
        SetWindowTimer(kLayoutTimer, 10);
}

bool Widget::LayOutSlice(Page& page) {
    if (!canvas)
        return false;
    return layoutPageUntil(page, *canvas, std::chrono::steady_clock::now() + layoutSlice);
}

void Widget::ShowPage(Page* page) {
    if (page && !page->laidOut() && !LayOutSlice(*page)) {
        pendingPage = page;
        // A page replaced while its successor is laid out stays; another
        // page does not stay under this one's tab.
        if (!retiringPage || navigator->page != retiringPage.get() ||
            retiringPage->name != page->name)
            navigator->ShowPage(nullptr);
        SetWindowTimer(kLayoutTimer, 10);
    } else {
        pendingPage = nullptr;
        navigator->ShowPage(page);
    }
    if (retiringPage && navigator->page != retiringPage.get()) {
        Release(retiringPage.get());
        retiringPage.reset();
    }
}

void Widget::OnTimer(int id) {
    if (id != kLayoutTimer)
        return;
    if (pendingPage) {
        if (LayOutSlice(*pendingPage))
            ShowPage(pendingPage);
        return;
    }
    // Ahead of need only once the pictures are decoded: the layout then
    // takes them rather than decoding them beside the decoding thread.
    if (!gdip::PrefetchIdle())
        return;
    if (Page* next = NextToPrepare())
        LayOutSlice(*next);
    else
        KillWindowTimer(kLayoutTimer);
}

Page* Widget::NextToPrepare() const {
    for (const auto& page : pages)
        if (!page->laidOut())
            return page.get();
    CityMapData* city = SelectedCity();
    if (city && city->currentPage && !city->currentPage->laidOut())
        return city->currentPage;
    return nullptr;
}

void Widget::Release(const Page* page) {
    if (!page)
        return;
    navigator->ForgetPage(page);
    if (pendingPage == page)
        pendingPage = nullptr;
}

void Widget::AddCity(std::unique_ptr<CityMapData> city) {
    auto known = std::find(cityModel.items.begin(), cityModel.items.end(), city->cityName);
    // The map first shown is the first city's, and the selector's arrow
    // steps to the second next; the others' pictures are decoded when a
    // neighbour of theirs is chosen.
    if (known - cityModel.items.begin() < 2)
        DecodeAhead(city->mapPage.get(), canvas);
    if (known == cityModel.items.end()) {
        cityModel.items.push_back(city->cityName);
        cityRecords.push_back(std::move(city));
    } else {
        auto& held = cityRecords[size_t(known - cityModel.items.begin())];
        // The viewer may be showing, hovering or pressing one of the old
        // pages, or waiting for one: it lets go of them before they go.
        Release(held->mapPage.get());
        Release(held->allOfficesPage.get());
        for (auto& page : held->officePages)
            Release(page.get());
        held = std::move(city);
    }
    if (currentTab == kMapTab)
        OnCommand(SelectTabCommand, kMapTab);
    else
        SetWindowTimer(kLayoutTimer, 10);
}

void Widget::OnData(int kind, void* payload) {
    if (kind == CityMapContent && payload) {
        AddCity(std::unique_ptr<CityMapData>(static_cast<CityMapData*>(payload)));
        return;
    }
    if (kind == RatesContent && payload) {
        std::unique_ptr<RatesRecord> texts(static_cast<RatesRecord*>(payload));
        ratesTexts = *texts;
        if (rates)
            rates->Invalidate();
        return;
    }
    if (kind != SettingsContent || !payload)
        return;
    settings = *std::unique_ptr<SettingsRecord>(static_cast<SettingsRecord*>(payload));
    auto retitle = [this](const wchar_t* name, const wchar_t* title) {
        for (auto& page : pages) {
            if (page->name == name) {
                page->title = title;
                return;
            }
        }
    };
    retitle(L"News", settings.title_1);
    retitle(L"Club", settings.title_2);
    retitle(L"Friday", settings.title_5);
    Invalidate();
}

std::wstring Widget::PageTitle(const wchar_t* pageName) {
    return SettingsTitle(settings, pageName);
}

void Widget::OnLink(const wchar_t* url) {
    // Pages lead to the bank's site in the clear; other schemes are not ours.
    if (StartsWith(url, L"http://")) {
        OpenWebAddress(url);
        return;
    }
    if (!StartsWith(url, L"page://"))
        return;
    // Only the selected city's own pages: a name can never reach another
    // city's, whatever it holds.
    CityMapData* city = SelectedCity();
    if (!city)
        return;
    Page* page = city->FindPage(url + std::wcslen(L"page://"));
    UsageEvent event;
    if (page && page == city->mapPage.get()) {
        secondCityPage = false;
        event = CityMapOpened;
    } else if (page && page == city->allOfficesPage.get()) {
        secondCityPage = true;
        event = OfficeListOpened;
    } else {
        event = secondCityPage ? OfficeOpenedFromList : OfficeOpenedFromMap;
    }
    BroadcastEvent(event, 0);
    city->currentPage = page;
    ShowPage(page);
    Invalidate();
}
