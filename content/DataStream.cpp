// The feed base: cache, conditional download, delivery; see DataStream.h.
#include "content/DataStream.h"

#include "base/Desktop.h"
#include "base/Handles.h"
#include "base/ModulePath.h"
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
// No cache file is larger than a document the client accepts; a larger
// file is not ours and is not read.
constexpr LONGLONG kCacheFileLimit = 64ll << 20;

// The text of a body: up to its first zero byte, as documents are text.
size_t TextLength(const char* body, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (body[i] == '\0')
            return i;
    return size;
}

}  // namespace

DataStream::DataStream(FeedOwner* owner, const wchar_t* path, const wchar_t* cachePath,
                       uint32_t period)
    : owner(owner),
      url(ContentServerUrl(path)),
      cachePath(cachePath),
      period(period),
      elapsed(period + 1) {}

void DataStream::LoadCache() {
    std::string text;
    JsonValue document;
    if (ReadWholeFile(ModuleRelativePath(cachePath.c_str()), kCacheFileLimit, text) &&
        ParseJson(text.data(), text.size(), document))
        BuildContent(document);
}

void DataStream::Refresh(uint32_t step) {
    elapsed += step;
    // Unsigned, as the step may be huge after a long outage.
    if (elapsed < step || elapsed > period)
        elapsed = 0;
    else
        return;

    const std::wstring cache = ModuleRelativePath(cachePath.c_str());
    SYSTEMTIME written{};
    const SYSTEMTIME* condition = LocalCopyTime(cache, written) ? &written : nullptr;
    char* body = nullptr;
    size_t size = 0;
    const HttpResult result = HttpGet(url.c_str(), &body, &size, condition);
    Http().serverReachable = result >= 0;
    if (result == HttpOk) {
        size_t length = TextLength(body, size);
        JsonValue document;
        // A document that does not parse leaves the page and the cache file
        // as they are; the file's old time asks for the document again.
        if (ParseJson(body, length, document)) {
            accepted = FetchResources(document);
            BuildContent(document);
            ReplaceWholeFile(cache, body, length);
        }
    }
    std::free(body);

    if (result < 0 || !accepted)
        elapsed = NetworkAlive() ? period - (period < kOnlineRetryMs ? period : kOnlineRetryMs)
                                 : period + 1;
}

void DataStream::DeliverPage(std::unique_ptr<Page> page) {
    Window* target = owner->FeedTarget();
    if (!page || !target || ClosingRequested())
        return;
    if (SendWindowMessage(target->surfaceWindow, DM_CONTENT, PageContent, target, page.get(),
                          kDeliveryTimeoutMs))
        page.release();  // the panel's now
}

void DataStream::DeliverSettings(const SettingsRecord& record) {
    Window* target = owner->FeedTarget();
    if (!target || ClosingRequested())
        return;
    SettingsRecord copy = record;  // the panel copies it during the call
    SendWindowMessage(target->surfaceWindow, DM_DATA, SettingsContent, target, &copy,
                      kDeliveryTimeoutMs);
}
