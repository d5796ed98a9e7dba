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
    }
    // Builds mutants of the document: some are delivered, as kind, and
    // mutants that still parse and ones refused are both met.
    template <class Stream>
    void Run(const char* document, int kind, unsigned long cases) {
        const std::string original = ContentDocument(document);
        std::mt19937 random(Setting(L"ORVELLA_FUZZ_SEED", 20261207));
        Fed<Stream> stream(panel.get());
        // The unmutated page stays, as the shown page does in the panel: its
        // pictures are decoded once, not again for every mutant.
        panel->keep = true;
        stream.Build(original);
        panel->keep = false;
        unsigned long parsed = 0;
        const int before = panel->delivered[kind];
        for (unsigned long i = 0; i < cases; ++i)
            parsed += stream.Build(Mutate(original, random));
        EXPECT_GT(panel->delivered[kind], before) << document;
        EXPECT_GT(parsed, 0u) << document;
        EXPECT_LT(parsed, cases) << document;
    }
};

TEST_F(FuzzTest, MutatedDocumentsOfEveryFeedBuildOrAreRefused) {
    const unsigned long cases = Setting(L"ORVELLA_FUZZ_CASES", 2000);
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    Run<SettingsStream>("settings.json", SettingsContent, cases);
    Run<RatesStream>("rates.json", RatesContent, cases);
    Run<NewsStream>("news.json", PageContent, cases);
    Run<FridayStream>("friday.json", PageContent, cases);
    Run<ExclusiveStream>("exclusive.json", PageContent, cases);
    Run<MapStream>("maps.json", CityMapContent, cases);
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore + 16);
}

TEST_F(FuzzTest, AHugeDocumentIsCutToItsFields) {
    std::string huge = R"({"items": [{"title": ")" + std::string(30u << 20, 'x') +
                       R"(", "body_plain": ")";
    for (int i = 0; i < (15 << 20); ++i)
        huge += "\xd1\x8f";  // я: 30 MB more
    huge += R"("}]})";
    Fed<NewsStream> news(panel.get());
    const int before = panel->delivered[PageContent];  // from a cache left beside this one
    ASSERT_TRUE(news.Build(huge));
    EXPECT_EQ(panel->delivered[PageContent], before + 1);
}

}  // namespace
