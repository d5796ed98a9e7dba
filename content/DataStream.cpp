// The feed base: cache, conditional download, delivery; see DataStream.h.
#include "content/DataStream.h"

#include "base/Budgets.h"
#include "base/Desktop.h"
#include "base/Handles.h"
#include "base/ModulePath.h"
#include "content/MapStream.h"
#include "net/HttpClient.h"
#include "ui/Delivery.h"
#include "ui/Window.h"
#include "viewer/Page.h"

#include <cstdlib>
#include <vector>

namespace {

// A failed download while the machine is online is tried again after ten
// more minutes (or at the period, when that is shorter).
constexpr uint32_t kOnlineRetryMs = 600000;

// The text of a body: up to its first zero byte, as documents are text.
size_t TextLength(const char* body, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (body[i] == '\0')
            return i;
    return size;
}

}  // namespace

void DiscardData(int kind, void* payload) {
    switch (kind) {
    case CityMapContent:
        delete static_cast<CityMapData*>(payload);
        break;
    case SettingsContent:
        delete static_cast<SettingsRecord*>(payload);
        break;
    case RatesContent:
        delete static_cast<RatesRecord*>(payload);
        break;
    default:
        break;
    }
}

HWND FeedOwner::FeedSurface() {
    Window* target = FeedTarget();
    return target ? target->surfaceWindow : nullptr;
}

DataStream::DataStream(FeedOwner* owner, const wchar_t* path, const wchar_t* cachePath,
                       uint32_t period)
    : owner(owner),
      url(ContentServerUrl(path)),
      cachePath(cachePath),
      period(period),
      elapsed(period + 1) {}

void DataStream::LoadCache() {
    // No cache file we write is larger than a document we accept: a larger
    // one is not read, and the first download asks for the feed anew.
    std::string text;
    JsonValue document;
    if (ReadWholeFile(ModuleRelativePath(cachePath.c_str()), kFeedDocumentBytes, text) &&
        ParseJson(text.data(), text.size(), document)) {
        BuildContent(document);
        cacheShown_ = true;
    }
}

void DataStream::Refresh(uint32_t step) {
    elapsed += step;
    // Unsigned, as the step may be huge after a long outage.
    if (elapsed < step || elapsed > period)
        elapsed = 0;
    else
        return;

    const std::wstring cache = ModuleRelativePath(cachePath.c_str());
    // The file's time is the condition only once its document was shown: a
    // cache that could not be read must not be answered "not modified".
    SYSTEMTIME written{};
    const SYSTEMTIME* condition =
        cacheShown_ && LocalCopyTime(cache, written) ? &written : nullptr;
    char* received = nullptr;
    size_t size = 0;
    // A document past its budget is refused, as a failed download is.
    const HttpResult result =
        HttpGet(url.c_str(), &received, &size, condition, kFeedDocumentBytes);
    // Freed on every way out, also when the parse or the build throws.
    const std::unique_ptr<char, decltype(&std::free)> owned(received, &std::free);
    const char* body = received;
    Transfers().serverReachable = result >= 0;
    if (result == HttpOk) {
        size_t length = TextLength(body, size);
        JsonValue document;
        // A document that does not parse leaves the page and the cache file
        // as they are; the file's old time asks for the document again. So
        // does one that was not shown whole: a result the panel did not
        // take, or a build that a stop cut short.
        if (ParseJson(body, length, document)) {
            accepted = FetchResources(document);
            refused_ = false;
            BuildContent(document);
            if (!refused_ && !StopRequested())
                cacheShown_ = ReplaceWholeFile(cache, body, length) || cacheShown_;
            else
                accepted = false;  // asked for again at the early retry
        }
    }

    if (result < 0 || !accepted)
        elapsed = NetworkAlive() ? period - (period < kOnlineRetryMs ? period : kOnlineRetryMs)
                                 : period + 1;
}

bool DataStream::Deliver(UINT message, int kind, void* payload) {
    const bool taken =
        payload && SendWindowMessage(owner->FeedSurface(), message, kind, owner->FeedTarget(),
                                     payload, kDeliveryTimeoutMs, &Transfers().abortTransfers);
    if (!taken)
        refused_ = true;
    return taken;
}

void DataStream::DeliverPage(std::unique_ptr<Page> page) {
    if (Deliver(DM_CONTENT, PageContent, page.get()))
        page.release();  // the panel's now
}

void DataStream::DeliverSettings(std::unique_ptr<SettingsRecord> record) {
    // Told before the hand-over, while the record is still ours to read.
    const SettingsRecord copy = record ? *record : SettingsRecord{};
    if (Deliver(DM_DATA, SettingsContent, record.get())) {
        record.release();
        owner->SettingsTaken(copy);
    }
}

void DataStream::DeliverRates(std::unique_ptr<RatesRecord> record) {
    if (Deliver(DM_DATA, RatesContent, record.get()))
        record.release();
}

void DataStream::DeliverCity(std::unique_ptr<CityMapData> city) {
    if (Deliver(DM_DATA, CityMapContent, city.get()))
        city.release();
}
