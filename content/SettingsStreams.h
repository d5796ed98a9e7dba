// The two feeds that make no page: the central bank's rates of the dollar
// and the euro, handed to the rates panel as three texts, and the remotely
// managed settings, handed to the panel as one record that it copies.
//
//   rates.json     {"date": "2026-12-04", "usd": "78,42", "eur": "91,10"}
//   settings.json  {"phone_number", "phone_text", "title_1", "title_2",
//                   "title_5", "online_banking", "radio_title", "radio_url"}
#pragma once

#include "content/DataStream.h"

// "Курс ЦБ, 5.12" from a rates date: day and month clamped to 1..31 and
// 1..12. Capacity counts units with the terminator.
void FormatRatesCaption(const wchar_t* date, wchar_t* text, size_t capacity);

class RatesStream : public DataStream {
public:
    explicit RatesStream(FeedOwner* owner);

protected:
    void BuildContent(const JsonValue& document) override;
};

class SettingsStream : public DataStream {
public:
    explicit SettingsStream(FeedOwner* owner);

protected:
    // Every field is replaced: a missing key empties its field.
    void BuildContent(const JsonValue& document) override;
};
