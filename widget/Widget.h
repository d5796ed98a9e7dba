// The widget panel: a 318 x 468 window of the tree, child of the root.
//
// It owns everything on screen: six tab buttons, the close button, the page
// viewer, the radio, the rates panel and the city selector of the map tab. It paints the tab's background and the header's two hovers (the
// phone bubble, the online-banking entry), can be dragged, keeps every page
// and city delivered to it, switches tabs and opens web links with the
// shell. Its constructor starts the content machinery; its destructor saves
// the settings and tears everything down.
//
// Window thread only: the feeds hand everything over by message, and the
// worker reads nothing of the panel. Coordinates: the panel's own.
#pragma once

#include "ui/Button.h"
#include "viewer/Navigator.h"
#include "ui/Select.h"
#include "content/DataStream.h"
#include "content/MapStream.h"
#include "content/SettingsRecord.h"

#include <array>
#include <climits>
#include <chrono>
#include <memory>
#include <vector>

class AboutPageBuilder;
class StatHarvester;
class ClubPageBuilder;
class Radio;
class Rates;

// Whether the shell may be handed the address: an http or https address
// that nothing can split into further arguments of the browser's command
// line. The one check for every address the panel opens.
bool IsWebAddress(const wchar_t* url);

class Widget : public Window, public FeedOwner {
public:
    static constexpr int kWidth = 318;
    static constexpr int kHeight = 468;
    static constexpr int kTabs = 6;
    static constexpr int kNewsTab = 0;
    static constexpr int kMapTab = 2;
    static constexpr int kFridayTab = 4;
    static constexpr int kLayoutTimer = 20;  // the next slice of layout

    // Commands that the panel's children send it, and DM_TOGGLE.
    enum Command : int {
        SelectTabCommand = 0,  // param: the tab
        ToggleShown = 1,       // show or hide the panel
        TabPointed = 2,        // param: the tab the pointer came over
        CityChanged = Select::kChanged,
    };

    explicit Widget(Window* parent);
    ~Widget() override;

    void Paint() override;
    void OnMouseLeave(MouseEvent& event) override;
    void OnMouseDown(MouseEvent& event) override;
    void OnMouseUp(MouseEvent& event) override;
    void OnMouseMove(MouseEvent& event) override;
    // A Command.
    void OnCommand(int code, int param) override;
    // Lays out the next slice of the page waited for or of one prepared ahead.
    void OnTimer(int id) override;
    // PageContent: a Page, which now belongs to the panel.
    void OnContent(int kind, void* payload) override;
    // CityMapContent: a CityMapData; SettingsContent: a SettingsRecord;
    // RatesContent: a RatesRecord. Each now belongs to the panel.
    void OnData(int kind, void* payload) override;
    // "http://" goes to the shell; "page://" opens a page of the selected city.
    void OnLink(const wchar_t* url) override;

    // What the feeds deliver to while they are made (window thread); the
    // worker's relay takes its first titles from here.
    Window* FeedTarget() override { return this; }
    std::wstring PageTitle(const wchar_t* pageName) override;

    void SelectTab(int tab);
    // Keeps the city's pages, in place of a city of the same name or after
    // the others.
    void AddCity(std::unique_ptr<CityMapData> city);
    // Shows a page (null for none) in the viewer once it is laid out. What a
    // slice does not lay out is laid out in later slices between messages,
    // and the page is shown when it is whole; meanwhile the viewer keeps the
    // page it replaces, or shows none.
    void ShowPage(Page* page);
    // Whether every page that is laid out ahead is laid out, and none waited for.
    bool Prepared() const { return !pendingPage && !NextToPrepare(); }
    // The record of the city chosen in the selector; null before it arrived.
    CityMapData* SelectedCity() const;

    static const wchar_t* const tabNames[kTabs];  // the page each tab shows
    // Each decoded when its tab is first drawn.
    std::array<gdip::LazyPicture, kTabs> backgrounds;
    int currentTab = 0;
    // The background and page area the viewer's backdrop was found for.
    const gdip::GpImage* backdropPicture = nullptr;
    RECT backdropArea{0, 0, 0, 0};
    std::array<std::unique_ptr<Button>, kTabs> tabButtons;
    Button* selectedTabButton = nullptr;  // the tab buttons' group slot
    std::unique_ptr<Button> closeButton;
    POINT dragAnchor{0, 0};
    // The place as read from the settings (list view pixels), and where and
    // at what scale it put the panel: saved again as it was read while the
    // panel stays there, so that no rounding moves it from start to start.
    POINT storedPlace{0, 0};
    POINT storedAt{INT_MIN, INT_MIN};
    float storedScale = 0;
    std::unique_ptr<Navigator> navigator;
    std::vector<std::unique_ptr<Page>> pages;  // in order of arrival
    // How long one message may lay out pages; a page takes at least one
    // child of its block per slice. Tests that want pages whole at once set
    // it long.
    static std::chrono::steady_clock::duration layoutSlice;
    Page* pendingPage = nullptr;  // to be shown once laid out
    // The shown page that pendingPage replaces, shown until that is whole.
    std::unique_ptr<Page> retiringPage;
    std::unique_ptr<ClubPageBuilder> clubPages;
    std::unique_ptr<AboutPageBuilder> aboutPages;
    std::unique_ptr<Radio> radio;
    std::unique_ptr<Rates> rates;
    std::unique_ptr<Select> citySelect;
    RatesRecord ratesTexts{};  // the rates panel's, as last delivered
    SelectModel cityModel;  // the city names, in order of first arrival
    std::vector<std::unique_ptr<CityMapData>> cityRecords;  // parallel to cityModel.items
    // The last city page opened by a link was the list of all offices: an
    // office opened next counts as opened from the list.
    bool secondCityPage = false;
    SettingsRecord settings;
    gdip::LazyPicture phoneBubbleImage{L"images/phone.png"};
    gdip::LazyPicture phoneHoverImage{L"images/top_phone_on.png"};
    bool phoneHover = false;
    IntRect phoneRect{15, 9, 12, 21};
    gdip::GpFont* headerFont = nullptr;  // borrowed from the font cache
    gdip::LazyPicture bankingPopupImage{L"images/enter_orvella_popup.png"};
    bool bankingHover = false;
    IntRect bankingRect{113, 9, 90, 14};
    gdip::GpFont* bankingFont = nullptr;  // borrowed from the font cache
    char uid[33] = {};                    // installation identity, empty until asked
    // The usage statistics, registered for the usage events while the panel
    // lives. Shared with the worker, which ticks it: a worker that teardown
    // left to finish by itself may still be sending a report.
    std::shared_ptr<StatHarvester> statistics;

private:
    // Lays out a slice of the page; true when it is whole.
    bool LayOutSlice(Page& page);
    // The pages laid out ahead while nothing else is asked: every tab's and
    // the selected city's current one. Null when all are laid out.
    Page* NextToPrepare() const;
    // The page is about to go: nothing holds on to it any more.
    void Release(const Page* page);
    // Joins the picture prefetch on every way out of the panel, also when
    // its constructor throws after starting it.
    struct PrefetchJoin {
        ~PrefetchJoin();
    } prefetchJoin;
};
