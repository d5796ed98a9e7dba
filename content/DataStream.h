// The feed base: one JSON document on the content server, its cache file
// beside the library, and what is built from it.
//
// Each feed builds its content from its cache file when it is made (by the
// worker's thread before its first tick: the panel is full at once, even
// offline, and Load waits for none of it) and afterwards, on that thread,
// downloads its document conditionally whenever its period has run out,
// builds from it and only then writes the cache file: the file's time, the
// condition of the next request, says that this document was shown.
// Results reach the panel by synchronous messages to the desktop list view
// (ui/Delivery.h): a page or a record is the panel's once the send returns
// taken, and the feed's to free otherwise.
//
// The feed table (the settings first, so that the titles are in the panel
// before the News and Friday pages are built):
//
//   class            document                      cache file             period
//   SettingsStream   /media/data/settings.json     feeds/settings.json    24 h
//   RatesStream      /media/data/rates.json        feeds/rates.json        1 h
//   NewsStream       /media/data/news.json         feeds/news.json        10 min
//   FridayStream     /media/data/friday.json       feeds/friday.json       1 h
//   ExclusiveStream  /media/data/exclusive.json    feeds/exclusive.json   24 h
//   MapStream        /media/data/maps.json         feeds/maps.json        24 h
#pragma once

#include "content/Json.h"
#include "content/SettingsRecord.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class Window;
struct CityMapData;
struct Page;

// What the feeds deliver to: the panel, or (on the worker) a relay that
// stands for it and never reaches into it. Called on the worker thread (and
// on the window thread while the feeds are made).
class FeedOwner {
public:
    virtual ~FeedOwner() = default;
    // The window that DM_CONTENT and DM_DATA name as their target. The
    // feeds only name it: it is never dereferenced off the window thread.
    virtual Window* FeedTarget() = 0;
    // Where the messages are sent: the target's surface (the desktop list
    // view). The base reads it from the target.
    virtual HWND FeedSurface();
    // The title the panel now holds for a page ("News", "Friday"), from
    // the settings feed.
    virtual std::wstring PageTitle(const wchar_t* pageName) = 0;
    // The panel took a settings record.
    virtual void SettingsTaken(const SettingsRecord& record) {}
};

// Frees a DM_DATA payload of the kind that its receiver does not keep.
void DiscardData(int kind, void* payload);

class DataStream {
public:
    // Delivery waits this long for the window thread before the feed takes
    // its result back.
    static constexpr unsigned kDeliveryTimeoutMs = 10000;

    DataStream(FeedOwner* owner, const wchar_t* path, const wchar_t* cachePath, uint32_t period);
    virtual ~DataStream() = default;
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    // Builds from the cache file; a missing or unreadable one builds nothing.
    // Each subclass's constructor calls it last.
    void LoadCache();
    // Adds step ms; once the period has passed, downloads and rebuilds.
    void Refresh(uint32_t step);
    // The run is over and its worker ended in time (window thread). A feed
    // whose worker was left to end by itself is never told: by then a new
    // run's feeds may be using the same files.
    virtual void Finish() {}

    FeedOwner* owner;        // borrowed
    std::wstring url;        // on the content server
    std::wstring cachePath;  // relative to the library's folder
    uint32_t period;         // ms
    uint32_t elapsed;        // ms since the last refresh; starts past the period
    bool accepted = true;    // FetchResources at the last successful download

protected:
    // Downloads what the document refers to; false when some of it failed.
    virtual bool FetchResources(const JsonValue& document) { return true; }
    virtual void BuildContent(const JsonValue& document) = 0;

    // Hands a result to the panel: a Page (DM_CONTENT) or a DM_DATA of the
    // kind. Each is freed here when the panel did not take it; nothing is
    // sent once the panel is closing or this thread's work is being
    // stopped. A result not taken keeps this document's cache file from
    // being written, so that the next request asks for it again.
    void DeliverPage(std::unique_ptr<Page> page);
    void DeliverSettings(std::unique_ptr<SettingsRecord> record);
    void DeliverRates(std::unique_ptr<RatesRecord> record);
    void DeliverCity(std::unique_ptr<CityMapData> city);

private:
    bool Deliver(UINT message, int kind, void* payload);

    bool refused_ = false;  // a result of the current build was not taken
    // The cache file holds a document that was shown: read at the start or
    // written by this feed.
    bool cacheShown_ = false;
};
