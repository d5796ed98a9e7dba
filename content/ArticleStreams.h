// The News and Friday feeds: a list of dated articles made into one
// scrollable page each. Every article is a header strip (title at the left,
// day and month at the right) over its text. News makes the whole text one
// link to the article; Friday's text may carry links in the link markup.
//
//   {"items": [{"title": ..., "body_plain": ..., "link": ...,
//               "publish_date": "2026-12-04T10:00:00"}, ...]}
#pragma once

#include "content/DataStream.h"
#include "layout/Model.h"

// "5 декабря" from a publish date: day and month clamped to 1..31 and 1..12,
// whatever the date held. Capacity counts units with the terminator.
void FormatArticleDate(const wchar_t* publishDate, wchar_t* text, size_t capacity);

// The pictures under the article headers of each page.
constexpr const wchar_t* kNewsStripPicture = L"images/menu_1_news_plashka.png";
constexpr const wchar_t* kFridayStripPicture = L"images/menu_5_pyatnica_plashka.png";

class ArticleStream : public DataStream {
public:
    // Field capacities, terminator included.
    static constexpr size_t kTitleUnits = 300;
    static constexpr size_t kTextUnits = 1000;
    static constexpr size_t kLinkUnits = 300;
    static constexpr size_t kDateUnits = 300;

protected:
    ArticleStream(FeedOwner* owner, const wchar_t* path, const wchar_t* cachePath,
                  uint32_t period, const wchar_t* pageName, const wchar_t* stripImage);

    void BuildContent(const JsonValue& document) override;
    void AddArticleHeader(MContainer& root, const wchar_t* title, const wchar_t* publishDate);
    virtual void AddArticleBody(MContainer& root, wchar_t* text, const wchar_t* link) = 0;

    const wchar_t* pageName;
    const wchar_t* stripImage;
    // The panel lays a page out when it first shows it, which may be after
    // this stream is gone: the model points at fonts that outlive every
    // stream.
    static constexpr FontSpec headerFont{kBoldFamily, 12, FontRegular};
    static constexpr FontSpec textFont{kRegularFamily, 13, FontRegular};
    static constexpr FontSpec linkFont{kRegularFamily, 13, FontRegular};
    static constexpr FontSpec linkHoverFont{kRegularFamily, 13, FontUnderline};
};

class NewsStream : public ArticleStream {
public:
    explicit NewsStream(FeedOwner* owner);

protected:
    void AddArticleBody(MContainer& root, wchar_t* text, const wchar_t* link) override;
};

class FridayStream : public ArticleStream {
public:
    explicit FridayStream(FeedOwner* owner);

protected:
    void AddArticleBody(MContainer& root, wchar_t* text, const wchar_t* link) override;
};
