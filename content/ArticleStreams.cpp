// The News and Friday feeds; see ArticleStreams.h.
#include "content/ArticleStreams.h"

#include "base/Budgets.h"
#include "gfx/Palette.h"
#include "layout/TextFormatter.h"
#include "net/HttpClient.h"
#include "viewer/Page.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace {

const wchar_t* const kGenitiveMonths[13] = {
    L"",        L"января",  L"февраля", L"марта",    L"апреля",  L"мая",    L"июня",
    L"июля",    L"августа", L"сентября", L"октября", L"ноября", L"декабря"};

}  // namespace

void FormatArticleDate(const wchar_t* publishDate, wchar_t* text, size_t capacity) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // A date that does not parse keeps zeros, which clamp to 1 January.
    std::swscanf(publishDate ? publishDate : L"", L"%d-%d-%dT%d:%d:%d", &year, &month, &day,
                 &hour, &minute, &second);
    month = std::clamp(month, 1, 12);
    day = std::clamp(day, 1, 31);
    std::swprintf(text, capacity, L"%d %ls", day, kGenitiveMonths[month]);
}

ArticleStream::ArticleStream(FeedOwner* owner, const wchar_t* path, const wchar_t* cachePath,
                             uint32_t period, const wchar_t* pageName, const wchar_t* stripImage)
    : DataStream(owner, path, cachePath, period), pageName(pageName), stripImage(stripImage) {}

void ArticleStream::BuildContent(const JsonValue& document) {
    auto root = std::make_unique<MDiv>();
    root->rect = FloatRect{0, 0, kPageWidth, 0};
    root->padding = Padding{5, 15, 9, 10};
    const JsonValue& items = JsonMember(document, "items");
    for (size_t i = 0, n = std::min(JsonCount(items), kArticleItems); i < n; ++i) {
        if (StopRequested())
            return;
        const JsonValue& item = JsonItem(items, i);
        wchar_t title[kTitleUnits], text[kTextUnits], link[kLinkUnits], date[kDateUnits];
        JsonText(item, "title", title);
        JsonText(item, "body_plain", text);
        JsonText(item, "link", link);
        JsonText(item, "publish_date", date);
        AddArticleHeader(*root, title, date);
        AddArticleBody(*root, text, link);
    }
    auto page = std::make_unique<Page>();
    page->name = pageName;
    page->model = std::move(root);
    page->scrollable = true;
    page->headerHeight = 56;
    page->title = owner->PageTitle(pageName);
    DeliverPage(std::move(page));
}

void ArticleStream::AddArticleHeader(MContainer& root, const wchar_t* title,
                                     const wchar_t* publishDate) {
    wchar_t date[40];
    FormatArticleDate(publishDate, date, 40);
    auto header = std::make_unique<BiHeader>();
    header->leftText = title;
    header->leftFont = header->rightFont = &headerFont;
    header->leftColor = header->rightColor = palette::White;
    header->rightText = date;
    header->imagePath = stripImage;
    header->padding = Padding{5, 5, 0, 0};
    root.add(std::move(header));
}

NewsStream::NewsStream(FeedOwner* owner)
    : ArticleStream(owner, L"/media/data/news.json", L"feeds/news.json", 600000, L"News",
                    kNewsStripPicture) {
    LoadCache();
}

void NewsStream::AddArticleBody(MContainer& root, wchar_t* text, const wchar_t* link) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding = Padding{5, 5, 10, 22};
    paragraph->addLink(text, link, &textFont, palette::Black, &linkHoverFont, palette::Red);
    root.add(std::move(paragraph));
}

FridayStream::FridayStream(FeedOwner* owner)
    : ArticleStream(owner, L"/media/data/friday.json", L"feeds/friday.json", 3600000,
                    L"Friday", kFridayStripPicture) {
    LoadCache();
}

void FridayStream::AddArticleBody(MContainer& root, wchar_t* text, const wchar_t* link) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding = Padding{5, 5, 10, 22};
    addMarkup(text, *paragraph, &textFont, &linkFont, &linkHoverFont, palette::Black,
              palette::Red, palette::Red);
    root.add(std::move(paragraph));
}
