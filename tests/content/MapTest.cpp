// The Map feed: one delivery per city with the pages it names, the markers'
// rectangles, the pages' links to each other (also with names cut to their
// capacities), which pictures it may show, and the boxes its pictures get.
#include "FeedTest.h"
#include "base/Budgets.h"
#include "content/MapStream.h"
#include "gfx/Canvas.h"

#include <string>

namespace {

class MapTest : public FeedTest<> {
protected:
    void SetUp() override {
        FeedTest::SetUp();
        panel->title = L"";
        DeleteFileW((ProgramFolder() + L"feeds\\maps.json").c_str());  // builds from no cache
    }
};

const MButton& ButtonAt(const MContainer& map, size_t index) {
    return static_cast<const MButton&>(*map.children.at(index));
}

std::wstring LinkOf(const MElement& paragraph) {
    auto& link = static_cast<const MLink&>(*static_cast<const MContainer&>(paragraph).children.at(0));
    return link.url;
}

void ExpectRect(const FloatRect& r, FloatRect expected, const char* what) {
    EXPECT_TRUE(r.x == expected.x && r.y == expected.y && r.width == expected.width &&
                r.height == expected.height)
        << what << ": " << r.x << "," << r.y << " " << r.width << "x" << r.height;
}

TEST_F(MapTest, EachCityArrivesWithItsMapItsOfficeListAndOnePagePerOffice) {
    Fed<MapStream> maps(panel.get());
    ASSERT_TRUE(maps.Build(R"({"map": [
        {"name": "Озёрск", "image_url": "http://m.example/maps/ozersk.png", "offices": [
            {"name": "Первый", "map_x": 100, "map_y": 50, "address": "ул. Мира, 1",
             "info": "Пн–Пт", "link": "http://b.example/1"},
            {"name": "Второй", "map_x": 0, "map_y": 270}]},
        {"name": "Бор", "image_url": "images/lumora.png", "offices": [
            {"name": "А"}, {"name": "Б"}]}]})"));
    ASSERT_EQ(panel->cities.size(), 2u);
    const CityMapData& city = *panel->cities[0];
    CityMapData& bor = *panel->cities[1];
    EXPECT_EQ(city.cityName, L"Озёрск");
    EXPECT_EQ(city.officeCount, 2u);
    EXPECT_EQ(city.currentPage, city.mapPage.get());
    EXPECT_EQ(city.mapPage->name, L"Озёрск");
    EXPECT_EQ(city.allOfficesPage->name, L"Озёрск_all_offices");
    ASSERT_EQ(city.officePages.size(), 2u);
    EXPECT_EQ(city.officePages[0]->name, L"Озёрск_office_Первый");
    EXPECT_EQ(city.officePages[1]->name, L"Озёрск_office_Второй");
    EXPECT_EQ(bor.officePages[1]->name, L"Бор_office_Б");

    // The map: a marker per office at its place, then the list button.
    const Page& map = *city.mapPage;
    EXPECT_FALSE(map.scrollable || map.overlayModel || map.title);
    EXPECT_EQ(map.headerHeight, 0u);
    const auto& model = static_cast<const MMap&>(*map.model);
    ExpectRect(model.rect, {0, 0, 280, 270}, "map");
    EXPECT_EQ(model.mapImage->path, L"maps/ozersk.png");
    ASSERT_EQ(model.children.size(), 3u);
    const MButton& marker = ButtonAt(model, 0);
    ExpectRect(marker.normalRect, {100, 50, 16, 21}, "marker");
    ExpectRect(marker.hoverRect, {96, 39, 25, 33}, "marker hover");
    ExpectRect(ButtonAt(model, 1).hoverRect, {-4, 259, 25, 33}, "edge marker hover");
    EXPECT_EQ(*marker.link, L"page://Озёрск_office_Первый");
    EXPECT_EQ(*marker.hint, L"Первый");
    EXPECT_EQ(*marker.hoverImagePath, L"images/map-marker-big.png");
    const MButton& list = ButtonAt(model, 2);
    EXPECT_EQ(*list.link, L"page://Озёрск_all_offices");
    ExpectRect(list.normalRect, {204, 14, 65, 29}, "list button");
    EXPECT_FALSE(list.hint || list.hoverImagePath);
    EXPECT_EQ(static_cast<const MMap&>(*bor.mapPage->model).mapImage->path, L"images/lumora.png");

    // An office: name, address, info, two links; back to the map and the list.
    const Page& office = *city.officePages[0];
    EXPECT_TRUE(office.scrollable);
    EXPECT_EQ(office.headerHeight, 55u);
    const auto& header = static_cast<const MMap&>(*office.overlayModel);
    ExpectRect(header.rect, {-2, -2, 280, 55}, "header");
    ASSERT_EQ(header.children.size(), 2u);
    EXPECT_EQ(*ButtonAt(header, 0).link, L"page://Озёрск");
    EXPECT_EQ(*ButtonAt(header, 1).link, L"page://Озёрск_all_offices");
    ExpectRect(ButtonAt(header, 1).normalRect, {206, 16, 65, 29}, "office list button");
    const auto& text = office.model->children;
    ASSERT_EQ(text.size(), 5u);
    EXPECT_EQ(LinkOf(*text[3]), L"http://b.example/1");
    EXPECT_EQ(LinkOf(*text[4]).substr(0, 7), L"http://");

    // The list: per office its name, address and a link to its page.
    const Page& all = *city.allOfficesPage;
    EXPECT_EQ(static_cast<const MMap&>(*all.overlayModel).children.size(), 1u);
    ASSERT_EQ(all.model->children.size(), 6u);
    EXPECT_EQ(LinkOf(*all.model->children[5]), L"page://Озёрск_office_Второй");

    // Laid out, a picture of another size fills the map's box, and the
    // header's strip keeps to the header.
    LayOutCity(bor, *canvas);
    ASSERT_FALSE(bor.mapPage->scene->children.empty());
    ExpectRect(bor.mapPage->scene->children[0]->rect, {2, 2, 276, 266}, "map picture");
    const auto& strip = bor.officePages[0]->overlayScene->children;
    ASSERT_FALSE(strip.empty());
    ExpectRect(strip[0]->rect, {2, 2, 276, 51}, "header strip");
}

TEST_F(MapTest, LinksFindTheirPagesWhenNamesAreCutToTheirCapacities) {
    const std::string city(150, 'c'), office(200, 'o');
    Fed<MapStream> maps(panel.get());
    ASSERT_TRUE(maps.Build(R"({"map": [{"name": ")" + city + R"(", "offices": [{"name": ")" +
                           office + R"("}]}]})"));
    ASSERT_EQ(panel->cities.size(), 1u);
    const CityMapData& record = *panel->cities[0];
    EXPECT_EQ(record.cityName.size(), MapStream::kCityUnits - 1);
    const Page* found = record.FindPage(ButtonAt(*record.mapPage->model, 0).link->substr(7));
    ASSERT_EQ(found, record.officePages.at(0).get());
    EXPECT_EQ(found->name.size(), MapStream::kCityUnits - 1 + 8 + MapStream::kOfficeUnits - 1);
    EXPECT_EQ(record.FindPage(LinkOf(*record.allOfficesPage->model->children[2]).substr(7)), found);
    const auto& header = static_cast<const MMap&>(*found->overlayModel);
    EXPECT_EQ(record.FindPage(ButtonAt(header, 0).link->substr(7)), record.mapPage.get());
    EXPECT_EQ(record.FindPage(ButtonAt(header, 1).link->substr(7)), record.allOfficesPage.get());
}

TEST_F(MapTest, DocumentsWithoutCitiesCitiesWithoutOfficesAndOfficesBeyondAnyMap) {
    Fed<MapStream> maps(panel.get());
    for (const char* empty : {"{}", R"({"map": {}})", R"({"map": "x"})", "[]"})
        ASSERT_TRUE(maps.Build(empty));
    EXPECT_TRUE(panel->cities.empty());

    // A city without offices: the map with only its list button, an empty
    // list, and only pictures of the maps folder or shipped beside the
    // library. Which names are refused is the picture-name table's
    // (ExclusiveTest): here one of each kind, to show the feed asks.
    const struct {
        const char* url;
        const wchar_t* path;  // "-": no picture
    } cases[] = {
        {"http://m.example/a/b/city.png", L"maps/city.png"},
        {"images/samples/city_map.png", L"images/samples/city_map.png"},
        {"HTTP://m.example/city.png", L"-"},  // neither an address nor a shipped path
        {"http://m.example/x\\\\..\\\\evil.png", L"-"},
        {"../map.png", L"-"},
    };
    const std::string bareCity = R"({"map": [{"offices": 5, "map_x": "a", "image_url": ")";
    for (const auto& c : cases) {
        panel->cities.clear();
        ASSERT_TRUE(maps.Build(bareCity + c.url + R"("}]})"));
        ASSERT_EQ(panel->cities.size(), 1u);
        const CityMapData& bare = *panel->cities[0];
        EXPECT_EQ(bare.cityName, L"") << c.url;
        EXPECT_EQ(bare.officeCount, 0u) << c.url;
        EXPECT_EQ(bare.mapPage->model->children.size(), 1u) << c.url;
        EXPECT_TRUE(bare.allOfficesPage->model->children.empty()) << c.url;
        const auto& image = static_cast<const MMap&>(*bare.mapPage->model).mapImage;
        EXPECT_EQ(image ? image->path : L"-", c.path) << c.url;
    }

    // Coordinates beyond any map stay finite.
    ASSERT_TRUE(maps.Build(R"({"map": [{"offices": [{"map_x": 1e300, "map_y": -1e300}]}]})"));
    const FloatRect distant = ButtonAt(*panel->cities.back()->mapPage->model, 0).hoverRect;
    EXPECT_TRUE(std::isfinite(distant.x) && std::isfinite(distant.y) && distant.x > 0 && distant.y < 0);
}

TEST_F(MapTest, CitiesAndOfficesPastTheirBudgetsAreDropped) {
    // Offices at and one past their budget, in one city past the cities'.
    std::string offices = "{}", cities;
    for (size_t i = 1; i < kCityOffices; ++i)
        offices += ",{}";
    for (size_t i = 0; i <= kMapCities; ++i)
        cities += std::string(i ? "," : "") + R"({"offices": [)" + offices + (i ? ",{}]}" : "]}");
    Fed<MapStream> maps(panel.get());
    ASSERT_TRUE(maps.Build(R"({"map": [)" + cities + "]}"));
    ASSERT_EQ(panel->cities.size(), kMapCities);
    for (size_t i : {size_t(0), kMapCities - 1}) {
        const CityMapData& city = *panel->cities[i];
        EXPECT_EQ(city.officeCount, kCityOffices) << i;
        // Every office a marker, and the button to the list.
        EXPECT_EQ(static_cast<const MMap&>(*city.mapPage->model).children.size(),
                  kCityOffices + 1)
            << i;
        // Name, address and link an office, as each page's list holds them.
        EXPECT_EQ(city.allOfficesPage->model->children.size(), 3 * kCityOffices) << i;
    }
}

}  // namespace
