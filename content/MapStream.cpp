// The Map feed; see MapStream.h.
#include "content/MapStream.h"

#include "base/Budgets.h"
#include "net/HttpClient.h"

#include <algorithm>

namespace {

// The bank's page with every office's coordinates for car navigators.
constexpr wchar_t kNavigatorPage[] = L"http://www.orvella.example/rus/poi/index.wbp";
// Markers are placed far inside this on any real map; the bound keeps the
// arithmetic on a hostile document's coordinates finite.
constexpr double kCoordinateLimit = 100000;

float Coordinate(const JsonValue& office, const char* key) {
    return float(std::clamp(JsonNumber(office, key), -kCoordinateLimit, kCoordinateLimit));
}

// The offices of a city that are shown: the first within the budget.
size_t OfficeCount(const JsonValue& offices) {
    return std::min(JsonCount(offices), kCityOffices);
}

std::unique_ptr<MButton> MapButton(const wchar_t* image, const std::wstring& link,
                                   FloatRect normal, FloatRect hover) {
    auto button = std::make_unique<MButton>(image, link.c_str());
    button->align = AlignLeft;
    button->normalRect = normal;
    button->hoverRect = hover;
    return button;
}

}  // namespace

Page* CityMapData::FindPage(const std::wstring& name) const {
    if (mapPage && mapPage->name == name)
        return mapPage.get();
    if (allOfficesPage && allOfficesPage->name == name)
        return allOfficesPage.get();
    for (const auto& page : officePages) {
        if (page->name == name)
            return page.get();
    }
    return nullptr;
}

std::wstring AllOfficesPageName(const std::wstring& city) {
    return city + L"_all_offices";
}

std::wstring OfficePageName(const std::wstring& city, const std::wstring& office) {
    return city + L"_office_" + office;
}

std::wstring PageLink(const std::wstring& pageName) {
    return L"page://" + pageName;
}

MapStream::MapStream(FeedOwner* owner)
    : DataStream(owner, L"/media/data/maps.json", L"feeds/maps.json", 86400000) {
    LoadCache();
}

void MapStream::Finish() {
    pictures.DeleteUnused();
}

bool MapStream::FetchResources(const JsonValue& document) {
    return pictures.Download(JsonMember(document, "map"));
}

std::unique_ptr<MImage> MapStream::MakeMapImage(const JsonValue& city) {
    const std::wstring path = pictures.Admit(city);
    if (path.empty())
        return nullptr;
    auto image = std::make_unique<MImage>(path.c_str());
    image->align = AlignLeft;
    return image;
}

void MapStream::BuildContent(const JsonValue& document) {
    const JsonValue& cities = JsonMember(document, "map");
    pictures.StartBuild();
    for (size_t i = 0, n = std::min(JsonCount(cities), kMapCities); i < n; ++i) {
        if (StopRequested())
            return;
        const JsonValue& city = JsonItem(cities, i);
        wchar_t name[kCityUnits];
        JsonText(city, "name", name);
        auto record = std::make_unique<CityMapData>();
        record->cityName = name;
        record->mapPage = BuildCityMap(city, record->cityName);
        const JsonValue& offices = JsonMember(city, "offices");
        for (size_t j = 0, count = OfficeCount(offices); j < count; ++j)
            record->officePages.push_back(BuildOfficePage(JsonItem(offices, j), record->cityName));
        record->officeCount = uint32_t(record->officePages.size());
        record->allOfficesPage = BuildAllOfficesPage(offices, record->cityName);
        record->currentPage = record->mapPage.get();
        DeliverCity(std::move(record));
    }
}

std::unique_ptr<Page> MapStream::BuildCityMap(const JsonValue& city, const std::wstring& cityName) {
    auto map = std::make_unique<MMap>();
    map->rect = FloatRect{0, 0, 280, 270};
    map->mapImage = MakeMapImage(city);
    const JsonValue& offices = JsonMember(city, "offices");
    for (size_t j = 0, n = OfficeCount(offices); j < n; ++j) {
        const JsonValue& office = JsonItem(offices, j);
        const float x = Coordinate(office, "map_x"), y = Coordinate(office, "map_y");
        wchar_t name[kOfficeUnits];
        JsonText(office, "name", name);
        auto marker = MapButton(L"images/map-marker-small.png",
                                PageLink(OfficePageName(cityName, name)), {x, y, 16, 21},
                                {x - 4, y - 11, 25, 33});
        marker->hoverImagePath = L"images/map-marker-big.png";
        marker->hint = std::wstring(name);
        map->add(std::move(marker));
    }
    map->add(MapButton(L"images/maps-button-2.png", PageLink(AllOfficesPageName(cityName)),
                       {204, 14, 65, 29}, {205, 14, 65, 29}));
    auto page = std::make_unique<Page>();
    page->name = cityName;
    page->model = std::move(map);
    return page;
}

std::unique_ptr<MDiv> MapStream::StartListPage(std::unique_ptr<MMap>& overlay,
                                               const std::wstring& cityName) {
    auto root = std::make_unique<MDiv>();
    root->rect = FloatRect{0, 0, 260, 0};
    root->padding = Padding{11, 0, 0, 10};
    overlay = std::make_unique<MMap>();
    overlay->rect = FloatRect{-2, -2, 280, 55};
    overlay->mapImage = std::make_unique<MImage>(L"images/green-plashka-for-maps.png");
    overlay->mapImage->align = AlignLeft;
    overlay->add(MapButton(L"images/maps-button.png", PageLink(cityName), {14, 14, 65, 29},
                           {15, 14, 65, 29}));
    contentRoot = root.get();
    return root;
}

std::unique_ptr<Page> MapStream::FinishListPage(std::wstring name, std::unique_ptr<MDiv> root,
                                                std::unique_ptr<MMap> overlay) {
    contentRoot = nullptr;
    auto page = std::make_unique<Page>();
    page->name = std::move(name);
    page->model = std::move(root);
    page->scrollable = true;
    page->headerHeight = 55;
    page->overlayModel = std::move(overlay);
    return page;
}

std::unique_ptr<Page> MapStream::BuildOfficePage(const JsonValue& office,
                                                 const std::wstring& cityName) {
    wchar_t info[kInfoUnits], name[kOfficeUnits], address[kAddressUnits], link[kLinkUnits];
    JsonText(office, "info", info);
    JsonText(office, "name", name);
    JsonText(office, "address", address);
    JsonText(office, "link", link);
    std::unique_ptr<MMap> overlay;
    auto root = StartListPage(overlay, cityName);
    overlay->add(MapButton(L"images/maps-button-2.png", PageLink(AllOfficesPageName(cityName)),
                           {206, 16, 65, 29}, {205, 14, 65, 29}));
    AddNameParagraph(name);
    AddTextParagraph(address);
    AddTextParagraph(info);
    AddLinkParagraph(L"Узнать больше на сайте банка", link);
    AddLinkParagraph(L"Координаты для автонавигатора на сайте банка", kNavigatorPage);
    return FinishListPage(OfficePageName(cityName, name), std::move(root), std::move(overlay));
}

std::unique_ptr<Page> MapStream::BuildAllOfficesPage(const JsonValue& offices,
                                                     const std::wstring& cityName) {
    std::unique_ptr<MMap> overlay;
    auto root = StartListPage(overlay, cityName);
    for (size_t j = 0, n = OfficeCount(offices); j < n; ++j) {
        const JsonValue& office = JsonItem(offices, j);
        wchar_t name[kOfficeUnits], address[kAddressUnits];
        JsonText(office, "name", name);
        JsonText(office, "address", address);
        AddNameParagraph(name);
        AddTextParagraph(address);
        AddLinkParagraph(L"Подробнее", PageLink(OfficePageName(cityName, name)).c_str());
    }
    return FinishListPage(AllOfficesPageName(cityName), std::move(root), std::move(overlay));
}

void MapStream::AddNameParagraph(const wchar_t* text) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding = Padding{0, 0, 18, 0};
    paragraph->addText(text, &nameFont, 0xFF000000u);
    contentRoot->add(std::move(paragraph));
}

void MapStream::AddTextParagraph(const wchar_t* text) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding = Padding{0, 0, 12, 0};
    paragraph->addText(text, &textFont, 0xFF000000u);
    contentRoot->add(std::move(paragraph));
}

void MapStream::AddLinkParagraph(const wchar_t* label, const wchar_t* target) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding = Padding{0, 0, 12, 2};
    paragraph->addLink(label, target, &linkFont, linkColour, &linkHoverFont, linkColour);
    contentRoot->add(std::move(paragraph));
}
