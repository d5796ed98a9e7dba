// The feeds without a server: the JSON readers' guarantees, the dates and
// captions, and what each feed builds from a document and delivers.
#include "FeedTest.h"
#include "base/Budgets.h"
#include "content/ArticleStreams.h"
#include "content/SettingsStreams.h"
#include "ui/Delivery.h"
#include "viewer/Page.h"

#include <memory>
#include <string>
#include <vector>

namespace {

TEST(JsonReaders, AnythingMissingOrOfAnotherTypeReadsEmptyAndTextIsCutOnWholeCharacters) {
    JsonValue document;
    const std::string text = R"({"s": "Привет", "n": 5, "a": [1, {"t": "x"}], "o": {},)"
                             R"( "cut": "абвгд😀ж", "url": "http://r/s"})";
    ASSERT_TRUE(ParseJson(text.c_str(), text.size(), document));
    wchar_t field[8];
    struct Case {
        const char* key;
        const wchar_t* expected;
    } cases[] = {{"s", L"Привет"}, {"n", L""}, {"a", L""}, {"o", L""}, {"missing", L""}};
    for (const Case& c : cases) {
        JsonText(document, c.key, field);
        EXPECT_EQ(std::wstring(field), c.expected) << c.key;
    }
    EXPECT_EQ(JsonCount(JsonMember(document, "a")), 2u);
    EXPECT_EQ(JsonCount(JsonMember(document, "s")), 0u);
    JsonText(JsonItem(JsonMember(document, "a"), 1), "t", field);
    EXPECT_EQ(std::wstring(field), L"x");
    JsonText(JsonItem(JsonMember(document, "a"), 2), "t", field);  // past the end
    EXPECT_EQ(std::wstring(field), L"");
    // Cut to the field: five letters fill six, seven have no room for the
    // pair's second half, nine hold all of it.
    wchar_t six[6], seven[7], nine[9];
    JsonText(document, "cut", six);
    JsonText(document, "cut", seven);
    JsonText(document, "cut", nine);
    EXPECT_EQ(std::wstring(six) + L"|" + seven + L"|" + nine, L"абвгд|абвгд|абвгд😀ж");
    char bytes[8];
    JsonBytes(document, "url", bytes);  // copied as bytes, cut with its terminator
    EXPECT_EQ(std::string(bytes), "http://");
    // A document that is not an object reads as an empty one.
    for (const char* other : {"[1,2]", "\"text\"", "42", "null"}) {
        ASSERT_TRUE(ParseJson(other, std::strlen(other), document)) << other;
        EXPECT_EQ(JsonCount(JsonMember(document, "items")), 0u) << other;
    }
}

TEST(JsonReaders, BrokenDeepZeroCutAndIllFormedDocumentsAreRefusedOrRead) {
    JsonValue document;
    for (const char* broken : {"", "{", "{\"a\": }", "{\"a\": 1,}", "\xff\xfe"})
        EXPECT_FALSE(ParseJson(broken, std::strlen(broken), document)) << broken;
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(ParseJson(deep.c_str(), deep.size(), document));
    std::string limit = std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']');
    EXPECT_TRUE(ParseJson(limit.c_str(), limit.size(), document));
    std::string quoted = R"({"s": ")" + std::string(200, '[') + R"("})";
    EXPECT_TRUE(ParseJson(quoted.c_str(), quoted.size(), document));  // brackets in a string
    const char zeroCut[] = "{\"a\": 1}\0garbage";
    EXPECT_TRUE(ParseJson(zeroCut, sizeof(zeroCut) - 1, document));

    // Ill-formed UTF-8 costs a character, not the document.
    const std::string bad = "\xEF\xBF\xBD";
    const struct {
        std::string text, read;
    } cases[] = {
        {"a\xD0\xB6\xE2\x82\xAC\xF0\x9F\x98\x80", "a\xD0\xB6\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"a\x80z", "a" + bad + "z"},                  // a lone continuation
        {"a\xC0\xAFz", "a" + bad + bad + "z"},        // overlong: each byte
        {"a\xE2\x82z", "a" + bad + "z"},              // one start, cut short
        {"a\xED\xA0\x80z", "a" + bad + bad + bad + "z"},  // a surrogate
        {"a\xF4\x90\x80\x80z", "a" + bad + bad + bad + bad + "z"},  // past U+10FFFF
        {"a\xF4\x8F\xBF\xBFz", "a\xF4\x8F\xBF\xBFz"},  // U+10FFFF itself
        {"a\xF0\x9F\x98", "a" + bad},                 // cut at the end
        {"\xFF", bad},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RepairedUtf8(c.text.data(), c.text.size()), c.read) << c.text;

    const std::string text = "{\"items\": [{\"title\": \"\xD0\x9D\xFF\"}, {\"title\": \"ok\"}]}";
    ASSERT_TRUE(ParseJson(text.data(), text.size(), document));
    wchar_t title[8];
    JsonText(JsonItem(JsonMember(document, "items"), 0), "title", title);
    EXPECT_EQ(std::wstring(title), L"\u041D\uFFFD");
    JsonText(JsonItem(JsonMember(document, "items"), 1), "title", title);
    EXPECT_EQ(std::wstring(title), L"ok");
}

TEST(FeedDates, DayAndMonthAreClampedIntoRange) {
    struct Case {
        const wchar_t* date;
        const wchar_t* text;  // the article's date, or the rates' caption
    } cases[] = {
        {L"2014-03-08T10:00:00", L"8 марта"},  {L"2014-12-05T00:00:00", L"5 декабря"},
        {L"2014-00-05T00:00:00", L"5 января"}, {L"2014-13-05T00:00:00", L"5 декабря"},
        {L"2014-01-00T00:00:00", L"1 января"}, {L"2014-01-45T00:00:00", L"31 января"},
        {L"", L"1 января"},                    {L"вчера", L"1 января"},
    };
    wchar_t text[40];
    for (const Case& c : cases) {
        FormatArticleDate(c.date, text, 40);
        EXPECT_EQ(std::wstring(text), c.text) << c.date;
    }
    const Case captions[] = {{L"2014-12-05", L"Курс ЦБ, 5.12"}, {L"2014-03-31", L"Курс ЦБ, 31.3"},
                             {L"2014-00-40", L"Курс ЦБ, 31.1"}, {L"", L"Курс ЦБ, 1.1"}};
    for (const Case& c : captions) {
        FormatRatesCaption(c.date, text, 40);
        EXPECT_EQ(std::wstring(text), c.text) << c.date;
    }
}

class FeedBuildTest : public FeedTest<> {
protected:
    // The texts of a page's model, child by child: a header's two texts, a
    // paragraph's runs and links (with the link's target after "->").
    static std::vector<std::wstring> Texts(const Page& page) {
        std::vector<std::wstring> texts;
        for (auto& child : page.model->children) {
            if (auto* header = dynamic_cast<BiHeader*>(child.get())) {
                texts.push_back(header->leftText.value_or(L"") + L" | " +
                                header->rightText.value_or(L""));
                continue;
            }
            std::wstring line;
            for (auto& run : static_cast<MContainer&>(*child).children) {
                auto* text = static_cast<MText*>(run.get());
                line += text->text;
                if (text->kind == ModelLink)
                    line += L"->" + static_cast<MLink*>(text)->url;
                line += L";";
            }
            texts.push_back(line);
        }
        return texts;
    }
};

TEST_F(FeedBuildTest, NewsAndFridayMakeDatedArticlesWithTheirLinks) {
    Fed<NewsStream> news(panel.get());
    Fed<FridayStream> friday(panel.get());
    panel->pages.clear();  // built from caches another program left beside this one
    const std::string items = R"({"items": [
        {"title": "Вклад", "body_plain": "Ставка <a href=\"http://b.example/r\">выше</a> всех.",
         "link": "http://b.example/1", "publish_date": "2026-12-04T10:00:00"},
        {"title": 5, "publish_date": "2026-13-45"}, "not an object"]})";
    news.Build(items);
    friday.Build(items);
    ASSERT_EQ(panel->pages.size(), 2u);
    const Page& newsPage = *panel->pages[0];
    EXPECT_EQ(newsPage.name, L"News");
    EXPECT_EQ(newsPage.title.value_or(L""), L"T:News");
    EXPECT_TRUE(newsPage.scrollable);
    EXPECT_EQ(newsPage.headerHeight, 56u);
    EXPECT_EQ(Texts(newsPage),
              (std::vector<std::wstring>{
                  L"Вклад | 4 декабря",
                  L"Ставка <a href=\"http://b.example/r\">выше</a> всех.->http://b.example/1;",
                  L" | 31 декабря", L"->;", L" | 1 января", L"->;"}));
    EXPECT_EQ(Texts(*panel->pages[1]),
              (std::vector<std::wstring>{L"Вклад | 4 декабря",
                                         L"Ставка ;выше->http://b.example/r; всех.;",
                                         L" | 31 декабря", L"", L" | 1 января", L""}));
    // No items, or no object at all: a titled page without articles.
    for (const char* empty : {"{}", "[]", R"({"items": "many"})"}) {
        news.Build(empty);
        EXPECT_TRUE(panel->pages.back()->model->children.empty()) << empty;
    }

    // Past their budget: the last shown is the last within it.
    std::string many;
    for (size_t i = 0; i <= kArticleItems; ++i)
        many += std::string(i ? "," : "") + R"({"title": "t)" + std::to_string(i) + R"("})";
    news.Build(R"({"items": [)" + many + "]}");
    const std::vector<std::wstring> texts = Texts(*panel->pages.back());
    ASSERT_EQ(texts.size(), 2 * kArticleItems);  // a header and a body each
    EXPECT_EQ(texts[texts.size() - 2].rfind(L"t" + std::to_wstring(kArticleItems - 1) + L" |", 0),
              0u);
}

TEST_F(FeedBuildTest, SettingsReplaceEveryFieldAndRatesReachThePanel) {
    Fed<SettingsStream> settings(panel.get());
    panel->settings.clear();  // from a cache another program left beside this one
    settings.Build(R"({"phone_number": "8 800", "title_1": "Новости", "online_banking":
                       "https://online.orvella.example/login", "radio_url": "http://r/s"})");
    settings.Build(R"({"radio_url": "http://r/other"})");
    ASSERT_EQ(panel->settings.size(), 2u);
    EXPECT_EQ(std::wstring(panel->settings[0]->title_1), L"Новости");
    EXPECT_EQ(std::wstring(panel->settings[0]->online_banking),
              L"https://online.orvella.example/login");
    const SettingsRecord& onlyRadio = *panel->settings[1];
    EXPECT_EQ(std::string(onlyRadio.radio_url), "http://r/other");
    for (const wchar_t* field : {onlyRadio.phone_number, onlyRadio.phone_text, onlyRadio.title_1,
                                 onlyRadio.title_2, onlyRadio.title_5, onlyRadio.online_banking,
                                 onlyRadio.radio_title})
        EXPECT_EQ(std::wstring(field), L"");

    Fed<RatesStream> rates(panel.get());
    panel->rates.clear();  // also from such a cache
    rates.Build(R"({"date": "2026-12-04", "usd": "78,42", "eur": 91.1})");
    ASSERT_EQ(panel->rates.size(), 1u);
    const RatesRecord& texts = *panel->rates[0];
    EXPECT_EQ((std::vector<std::wstring>{texts.caption, texts.dollar, texts.euro}),
              (std::vector<std::wstring>{L"Курс ЦБ, 4.12", L"78,42", L""}));

    // Once the panel is closing nothing more is delivered (the one check of
    // every feed's deliveries).
    SetClosingRequested(true);
    settings.Build("{}");
    EXPECT_EQ(panel->settings.size(), 2u);
    SetClosingRequested(false);
}

}  // namespace
