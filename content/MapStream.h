// The Map feed: the bank's cities, each a map picture with its offices.
//
// For every city the stream builds a map page with one marker per office
// and a button to the list of all offices, that list, and one page per
// office with buttons back to the map and to the list, and hands them to
// the panel together in one CityMapData (DM_DATA, CityMapContent), city by
// city. The pages find each other by name through "page://" links, which
// the panel resolves among the pages of the city shown. Map pictures given
// as web addresses are downloaded into "maps" beside the library, which is
// cleaned at the run's end as "exclusive" is. Cities and offices past their
// budgets (base/Budgets.h) are dropped.
//
//   {"map": [{"name": ..., "image_url": ...,
//             "offices": [{"name": ..., "map_x": 100, "map_y": 50, "address": ...,
//                          "info": ..., "link": ...}]}]}
//
// Builds run on the window thread while the feeds are made, later on the
// worker thread. Marker and button rectangles are in the map's own
// coordinates (a 280 x 270 box whose picture fills 276 x 266 at (2, 2)).
#pragma once

#include "content/DataStream.h"
#include "content/PictureFiles.h"
#include "layout/Model.h"
#include "viewer/Page.h"

#include <memory>
#include <string>
#include <vector>

// One city's pages, handed to the panel, which owns the record once the
// message returns taken.
struct CityMapData {
    std::unique_ptr<Page> mapPage;
    std::unique_ptr<Page> allOfficesPage;
    Page* currentPage = nullptr;  // one of the record's pages: the one to show
    std::vector<std::unique_ptr<Page>> officePages;  // in document order
    std::wstring cityName;                           // as the selector shows it
    uint32_t officeCount = 0;

    // The record's page of that name, the map first, then the list, then
    // the offices in order; null when it has none.
    Page* FindPage(const std::wstring& name) const;
};

// Page names, built from names already cut to their capacities; a link to a
// page is "page://" followed by its name, so both always agree.
std::wstring AllOfficesPageName(const std::wstring& city);
std::wstring OfficePageName(const std::wstring& city, const std::wstring& office);
std::wstring PageLink(const std::wstring& pageName);

class MapStream : public DataStream {
public:
    // Field capacities, terminator included.
    static constexpr size_t kCityUnits = 100;
    static constexpr size_t kOfficeUnits = 128;
    static constexpr size_t kAddressUnits = 384;
    static constexpr size_t kInfoUnits = 1024;
    static constexpr size_t kLinkUnits = 1024;

    explicit MapStream(FeedOwner* owner);
    // Deletes the pictures of "maps" that no build of this run used.
    void Finish() override;

    PictureFolder pictures{L"maps/"};

protected:
    // Downloads the map pictures; true only when every one came anew.
    bool FetchResources(const JsonValue& document) override;
    void BuildContent(const JsonValue& document) override;

    std::unique_ptr<Page> BuildCityMap(const JsonValue& city, const std::wstring& cityName);
    std::unique_ptr<Page> BuildOfficePage(const JsonValue& office, const std::wstring& cityName);
    std::unique_ptr<Page> BuildAllOfficesPage(const JsonValue& offices,
                                              const std::wstring& cityName);
    // The city's picture; null when its value names no picture we may show.
    std::unique_ptr<MImage> MakeMapImage(const JsonValue& city);

    // Append one paragraph to the content root.
    void AddNameParagraph(const wchar_t* text);
    void AddTextParagraph(const wchar_t* text);
    void AddLinkParagraph(const wchar_t* label, const wchar_t* target);

    // The panel lays a city's pages out when it first shows them, which may
    // be after this stream is gone: the models point at fonts that outlive
    // every stream.
    static constexpr FontSpec nameFont{kBoldFamily, 20, FontRegular};
    static constexpr FontSpec textFont{kRegularFamily, 13, FontRegular};
    static constexpr FontSpec linkFont{kRegularFamily, 13, FontRegular};
    static constexpr FontSpec linkHoverFont{kRegularFamily, 13, FontUnderline};
    gdip::ARGB linkColour = 0xFFCC0000u;
    MContainer* contentRoot = nullptr;  // of the page being built; borrowed

private:
    // The content root and header overlay that the list and office pages
    // share; the overlay's first button leads back to the map.
    std::unique_ptr<MDiv> StartListPage(std::unique_ptr<MMap>& overlay,
                                        const std::wstring& cityName);
    std::unique_ptr<Page> FinishListPage(std::wstring name, std::unique_ptr<MDiv> root,
                                         std::unique_ptr<MMap> overlay);
};
