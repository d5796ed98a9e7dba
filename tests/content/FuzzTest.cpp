// Mutated documents of our content set through each feed's build and the
// page layout: nothing may crash, hang or keep GDI objects. The seed and the
// number of cases come from the environment (ORVELLA_FUZZ_SEED,
// ORVELLA_FUZZ_CASES) for longer runs; the test command uses the defaults.
#include "FeedTest.h"
#include "content/ArticleStreams.h"
#include "content/ExclusiveStream.h"
#include "content/MapStream.h"
#include "content/SettingsStreams.h"
#include "ui/Delivery.h"
#include "viewer/Page.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

unsigned long Setting(const wchar_t* name, unsigned long fallback) {
    const wchar_t* value = _wgetenv(name);
    return value ? std::wcstoul(value, nullptr, 10) : fallback;
}

// One to four edits: a byte changed, a span dropped or doubled, or a token
// that changes the structure or the type of a value put in.
std::string Mutate(std::string text, std::mt19937& random) {
    static const char* const kTokens[] = {
        "{", "}", "[", "]", "\"", ",", ":", "null", "0", "-1", "1e999", "true",
        "\"\\u0000\"", "\"\\ud800\"", "\"<a href=\\\"\"", "</a>", "<a href=\\\"x\\\">",
        "[{}]", "{\"items\": 5}", "\"2014-13-45T99:99:99\""};
    std::uniform_int_distribution<int> edits(1, 4), kind(0, 4), token(0, 19);
    for (int n = edits(random); n > 0 && !text.empty(); --n) {
        size_t at = std::uniform_int_distribution<size_t>(0, text.size() - 1)(random);
        size_t span = std::uniform_int_distribution<size_t>(1, 64)(random);
        switch (kind(random)) {
        case 0:
            text[at] = char(random());
            break;
        case 1:
            text.erase(at, span);
            break;
        case 2:
            text.insert(at, text.substr(at, span));
            break;
        case 3:
            text.insert(at, kTokens[token(random)]);
            break;
        default:
            text.insert(at, std::string(span * 100, 'x'));
            break;
        }
    }
    return text;
}

class FuzzTest : public FeedTest<> {
protected:
    void SetUp() override {
        FeedTest::SetUp();
        panel->layOut = true;  // as the panel does
        panel->keep = false;
    }
    int Delivered() const {
        int all = 0;
        for (const auto& [kind, count] : panel->delivered)
            all += count;
        return all;
    }
    // Builds mutants of the document; returns how many parsed, and expects
    // some to be delivered.
    template <class Stream>
    int Run(const char* document, unsigned long cases) {
        const std::string original = ContentDocument(document);
        EXPECT_FALSE(original.empty()) << document;
        std::mt19937 random(Setting(L"ORVELLA_FUZZ_SEED", 20261207));
        Fed<Stream> stream(panel.get());
        int parsed = 0;
        const int before = Delivered();
        for (unsigned long i = 0; i < cases; ++i)
            parsed += stream.Build(Mutate(original, random));
        EXPECT_GT(Delivered(), before) << document;
        return parsed;
    }
};

TEST_F(FuzzTest, MutatedDocumentsOfEveryFeedBuildOrAreRefused) {
    const unsigned long cases = Setting(L"ORVELLA_FUZZ_CASES", 2000);
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    struct Feed {
        const char* document;
        int parsed;
    } feeds[] = {{"settings.json", Run<SettingsStream>("settings.json", cases)},
                 {"rates.json", Run<RatesStream>("rates.json", cases)},
                 {"news.json", Run<NewsStream>("news.json", cases)},
                 {"friday.json", Run<FridayStream>("friday.json", cases)},
                 {"exclusive.json", Run<ExclusiveStream>("exclusive.json", cases)},
                 {"maps.json", Run<MapStream>("maps.json", cases)}};
    for (const Feed& feed : feeds) {
        // Both kinds are met: mutants that still parse, and ones refused.
        EXPECT_GT(feed.parsed, 0) << feed.document;
        EXPECT_LT(unsigned(feed.parsed), cases) << feed.document;
    }
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore + 16);
}

TEST_F(FuzzTest, AHugeDocumentIsCutToItsFields) {
    std::string huge = R"({"items": [{"title": ")" + std::string(30u << 20, 'x') +
                       R"(", "body_plain": ")";
    for (int i = 0; i < (15 << 20); ++i)
        huge += "\xd1\x8f";  // я: 30 MB more
    huge += R"("}]})";
    ASSERT_GT(huge.size(), 60u << 20);
    Fed<NewsStream> news(panel.get());
    const int before = panel->delivered[PageContent];  // from a cache left beside this one
    ASSERT_TRUE(news.Build(huge));
    EXPECT_EQ(panel->delivered[PageContent], before + 1);
}

}  // namespace
