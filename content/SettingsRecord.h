// The remotely managed settings of the panel: the bank's phone line, the
// online-banking address, three tab titles and the radio station. A plain
// record of fixed capacities (terminators included) that crosses from the
// worker thread by a synchronous message and is copied whole by the panel.
#pragma once

struct SettingsRecord {
    wchar_t phone_number[30];
    wchar_t phone_text[100];
    wchar_t title_1[100];  // the News page
    wchar_t title_2[100];  // the Club page
    wchar_t title_5[100];  // the Friday page
    wchar_t online_banking[260];
    wchar_t radio_title[100];
    char radio_url[260];  // 8-bit, as received
};

// The built-in values that start every record.
SettingsRecord DefaultSettings();

// The title a record gives a page: "News" title_1, "Friday" title_5, any
// other (the Club) title_2.
const wchar_t* SettingsTitle(const SettingsRecord& record, const wchar_t* pageName);

// The rates panel's three texts, handed over together.
struct RatesRecord {
    wchar_t caption[40];  // "Курс ЦБ, d.m"
    wchar_t dollar[10];
    wchar_t euro[10];
};
