// Built-in settings; see SettingsRecord.h.
#include "widget/SettingsRecord.h"

#include <cstring>

SettingsRecord DefaultSettings() {
    SettingsRecord record{};
    CopyField(record.phone_number, L"8 800 200 47 47");
    CopyField(record.phone_text, L"Бесплатная линия: ");
    CopyField(record.title_1, L"Что нового?");
    CopyField(record.title_2, L"Клуб Orvella");
    CopyField(record.title_5, L"Ура! Пятница!");
    CopyField(record.online_banking, L"https://online.orvella.example/login");
    CopyField(record.radio_title, L"Радио \"Орвелла FM\"");
    std::strncpy(record.radio_url, "http://radio.orvella.example/live.mp3",
                 sizeof(record.radio_url) - 1);
    return record;
}
