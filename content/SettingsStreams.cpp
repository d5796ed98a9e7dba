// The rates and settings feeds; see SettingsStreams.h.
#include "content/SettingsStreams.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace {

constexpr size_t kRatesFieldUnits = 30;
constexpr size_t kCaptionUnits = sizeof(RatesRecord::caption) / sizeof(wchar_t);

}  // namespace

void FormatRatesCaption(const wchar_t* date, wchar_t* text, size_t capacity) {
    int year = 0, month = 0, day = 0;
    std::swscanf(date ? date : L"", L"%d-%d-%d", &year, &month, &day);
    month = std::clamp(month, 1, 12);
    day = std::clamp(day, 1, 31);
    std::swprintf(text, capacity, L"Курс ЦБ, %d.%d", day, month);
}

RatesStream::RatesStream(FeedOwner* owner)
    : DataStream(owner, L"/media/data/rates.json", L"feeds/rates.json", 3600000) {
    LoadCache();
}

void RatesStream::BuildContent(const JsonValue& document) {
    wchar_t date[kRatesFieldUnits];
    auto record = std::make_unique<RatesRecord>();
    JsonText(document, "date", date);
    FormatRatesCaption(date, record->caption, kCaptionUnits);
    // Cut to the panel's fields: a rate is a few characters.
    JsonText(document, "usd", record->dollar);
    JsonText(document, "eur", record->euro);
    DeliverRates(std::move(record));
}

SettingsStream::SettingsStream(FeedOwner* owner)
    : DataStream(owner, L"/media/data/settings.json", L"feeds/settings.json", 86400000) {
    LoadCache();
}

void SettingsStream::BuildContent(const JsonValue& document) {
    auto record = std::make_unique<SettingsRecord>(DefaultSettings());
    JsonText(document, "phone_number", record->phone_number);
    JsonText(document, "phone_text", record->phone_text);
    JsonBytes(document, "radio_url", record->radio_url);
    JsonText(document, "radio_title", record->radio_title);
    JsonText(document, "online_banking", record->online_banking);
    JsonText(document, "title_1", record->title_1);
    JsonText(document, "title_2", record->title_2);
    JsonText(document, "title_5", record->title_5);
    DeliverSettings(std::move(record));
}
