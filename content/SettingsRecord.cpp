// Built-in settings; see SettingsRecord.h.
#include "content/SettingsRecord.h"

#include "base/Text.h"

#include <cwchar>

SettingsRecord DefaultSettings() {
    SettingsRecord record{};
    CopyText(record.phone_number, L"8 800 200 47 47");
    CopyText(record.phone_text, L"Бесплатная линия: ");
    CopyText(record.title_1, L"Что нового?");
    CopyText(record.title_2, L"Клуб Orvella");
    CopyText(record.title_5, L"Ура! Пятница!");
    CopyText(record.online_banking, L"https://online.orvella.example/login");
    CopyText(record.radio_title, L"Радио \"Орвелла FM\"");
    CopyText(record.radio_url, "http://radio.orvella.example/live.mp3");
    return record;
}

const wchar_t* SettingsTitle(const SettingsRecord& record, const wchar_t* pageName) {
    if (std::wcscmp(pageName, L"News") == 0)
        return record.title_1;
    if (std::wcscmp(pageName, L"Friday") == 0)
        return record.title_5;
    return record.title_2;
}
