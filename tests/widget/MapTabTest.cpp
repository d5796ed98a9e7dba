// The map tab of the panel: cities arriving from the Map feed fill the
// selector (their pages laid out when first shown), "page://" links open the selected city's pages and say how they
// were reached, and a newer document replaces a city whose page is shown,
// hovered and pressed without leaving the viewer a pointer into it (this
// test program runs on a heap that poisons what is freed).
#include "content/MapStream.h"
#include "FeedHarness.h"
#include "WidgetFixture.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr char kTwoCities[] = R"({"map": [
    {"name": "Озёрск", "image_url": "images/samples/city_map.png", "offices": [
        {"name": "Первый", "map_x": 100, "map_y": 50}, {"name": "Второй", "map_x": 40, "map_y": 200}]},
    {"name": "Бор", "offices": [{"name": "Лесной", "map_x": 10, "map_y": 10}]}]})";

// The map's events among those heard.
std::vector<int> MapEvents(const EventRecorder& log) {
    std::vector<int> events;
    std::copy_if(log.heard.begin(), log.heard.end(), std::back_inserter(events),
                 [](int event) { return event >= CityChosen && event <= CityMapOpened; });
    return events;
}

// The Map feed each test makes builds first from its cache file: one left
// by another test is removed.
class MapTabTest : public WidgetTreeTest {
protected:
    void BeforePanel() override { DeleteFileW((ProgramFolder() + L"feeds\\maps.json").c_str()); }
    CityMapData& City(size_t index) { return *widget->cityRecords.at(index); }
    // A point of the map given in the map's own coordinates, in the root's.
    POINT OnMap(int x, int y) const {
        return POINT{widget->x + widget->navigator->x + x, widget->y + widget->navigator->y + y};
    }

    DeliveringListView delivering{desktop.listView};
};

TEST_F(MapTabTest, CitiesFillTheSelectorAndANewerCityTakesTheOldOnesPlace) {
    Fed<MapStream> maps(widget.get());
    ASSERT_TRUE(maps.Build(kTwoCities));
    EXPECT_EQ(widget->cityModel.items, (std::vector<std::wstring>{L"Озёрск", L"Бор"}));
    EXPECT_EQ(widget->navigator->page, nullptr);  // another tab is shown
    EXPECT_FALSE(widget->citySelect->attached);

    widget->OnCommand(Widget::SelectTabCommand, Widget::kMapTab);
    EXPECT_TRUE(widget->citySelect->attached);
    EXPECT_EQ(widget->navigator->page, City(0).mapPage.get());
    // Laid out when first shown: the other city's map waits.
    EXPECT_TRUE(City(0).mapPage->scene && !City(0).mapPage->model);
    EXPECT_TRUE(City(1).mapPage->model && !City(1).mapPage->scene);
    // The viewer ends above the selector.
    EXPECT_LE(widget->navigator->y + widget->navigator->height, widget->citySelect->y);

    widget->cityModel.selected = 1;
    widget->OnCommand(Widget::CityChanged, 0);
    EXPECT_EQ(widget->navigator->page, City(1).mapPage.get());
    const CityMapData* oldBor = &City(1);
    ASSERT_TRUE(maps.Build(R"({"map": [{"name": "Новый"}, {"name": "Бор"}]})"));
    EXPECT_EQ(widget->cityModel.items, (std::vector<std::wstring>{L"Озёрск", L"Бор", L"Новый"}));
    EXPECT_EQ(widget->cityModel.selected, 1);
    EXPECT_NE(&City(1), oldBor);
    EXPECT_EQ(widget->navigator->page, City(1).mapPage.get());  // shown at once

    // A selection past the known cities shows nothing new and counts nothing.
    widget->cityModel.selected = 3;
    EventRecorder log;
    widget->OnCommand(Widget::CityChanged, 0);
    widget->OnLink(L"page://Бор");
    EXPECT_TRUE(MapEvents(log).empty());
}

TEST_F(MapTabTest, PageLinksOpenOnlyTheSelectedCitysPagesAndSayHowTheyWereReached) {
    Fed<MapStream> maps(widget.get());
    // The second city's map page carries the name of the first city's office page.
    ASSERT_TRUE(maps.Build(R"({"map": [
        {"name": "A", "offices": [{"name": "B"}, {"name": "C"}]},
        {"name": "A_office_B", "offices": [{"name": "D"}]}]})"));
    widget->OnCommand(Widget::SelectTabCommand, Widget::kMapTab);
    EventRecorder log;
    const struct {
        const wchar_t* link;
        const Page* shown;
        int event;
    } steps[] = {
        {L"page://A_office_B", City(0).officePages[0].get(), OfficeOpenedFromMap},
        {L"page://A_all_offices", City(0).allOfficesPage.get(), OfficeListOpened},
        {L"page://A_office_C", City(0).officePages[1].get(), OfficeOpenedFromList},
        {L"page://A_office_D", nullptr, OfficeOpenedFromList},  // another city's office
        {L"page://A", City(0).mapPage.get(), CityMapOpened},
        {L"page://A_office_Z", nullptr, OfficeOpenedFromMap},
    };
    for (const auto& step : steps) {
        log.heard.clear();
        widget->OnLink(step.link);
        EXPECT_EQ(widget->navigator->page, step.shown) << step.link;
        EXPECT_EQ(City(0).currentPage, step.shown) << step.link;
        EXPECT_EQ(MapEvents(log), std::vector<int>{step.event}) << step.link;
    }

    // The list's page comes back when another city is chosen after it.
    widget->OnLink(L"page://A_all_offices");
    widget->cityModel.selected = 1;
    log.heard.clear();
    widget->OnCommand(Widget::CityChanged, 0);
    EXPECT_EQ(widget->navigator->page, City(1).allOfficesPage.get());
    EXPECT_EQ(MapEvents(log), std::vector<int>{CityChosen});
    widget->OnLink(L"page://A_office_B");  // now the second city's own map page
    EXPECT_EQ(widget->navigator->page, City(1).mapPage.get());
}

TEST_F(MapTabTest, ANewerDocumentReplacesAShownHoveredAndPressedOfficePage) {
    Fed<MapStream> maps(widget.get());
    ASSERT_TRUE(maps.Build(kTwoCities));
    widget->OnCommand(Widget::SelectTabCommand, Widget::kMapTab);
    // Rest on the marker at (100, 50) until its hint shows, then click it.
    const POINT marker = OnMap(108, 60);
    Move(marker.x, marker.y);
    ASSERT_NE(widget->navigator->hoveredButton, nullptr);
    root->DispatchTimer(Navigator::kHintTimer);
    Click(marker.x, marker.y);
    ASSERT_EQ(widget->navigator->page, City(0).officePages[0].get());

    // Over the button back to the map, pressed, when the city is replaced.
    const POINT back = OnMap(30, 25);
    Move(back.x, back.y);
    Press(back.x, back.y);
    ASSERT_NE(widget->navigator->pressedButton, nullptr);
    ASSERT_TRUE(maps.Build(kTwoCities));

    Navigator& viewer = *widget->navigator;
    EXPECT_EQ(viewer.page, City(0).mapPage.get());
    EXPECT_EQ(viewer.pressedButton, nullptr);
    EXPECT_EQ(viewer.hintButton, nullptr);
    // Nothing the viewer does next may reach the freed pages.
    Release(back.x, back.y);
    Move(marker.x, marker.y);
    root->DispatchTimer(Navigator::kHintTimer);
    root->DispatchTimer(PopupHint::kFadeTimer);
    root->PaintTree(0, 0, 400, 300);
    Click(marker.x, marker.y);
    EXPECT_EQ(viewer.page, City(0).officePages[0].get());
}

}  // namespace
