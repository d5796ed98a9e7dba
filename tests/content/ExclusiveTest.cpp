// The Exclusive feed and the picture names feeds may use: which names are
// refused, the page an offer list makes, and the clean-up of the picture
// folder at shutdown.
#include "FeedTest.h"
#include "ServedFiles.h"
#include "base/Budgets.h"
#include "content/ExclusiveStream.h"
#include "content/PictureFiles.h"
#include "gfx/Canvas.h"
#include "viewer/Page.h"

#include <fstream>
#include <set>
#include <string>

namespace {

TEST(PictureFiles, OnlyPlainFileNamesAndPathsInsideTheLibraryAreUsed) {
    for (const wchar_t* name : {L"offer1.jpg", L"COM10.png", L"console.png"})
        EXPECT_EQ(PictureFileName(L"http://a.example/m/" + std::wstring(name)), name);
    EXPECT_EQ(PictureFileName(L"offer1.jpg"), L"");  // no "/"
    // Empty, dots, paths, streams, controls, trailing dots and spaces, the
    // devices (also with spaces before the extension) and wildcards.
    for (const wchar_t* name : {L"", L".", L"..", L"..\\..\\evil.dll", L"x.png:stream",
                                L"a\x01.png", L"pic.", L"pic ", L"CON", L"con.png", L"Nul..",
                                L"COM1.jpg", L"lpt9", L"a*b.png", L"CON .png", L"lpt1  .txt"})
        EXPECT_EQ(PictureFileName(L"http://a.example/" + std::wstring(name)), L"") << name;

    for (const wchar_t* path : {L"images/lumora.png", L"images\\samples\\offer.png"})
        EXPECT_TRUE(IsShippedPicturePath(path)) << path;
    for (const wchar_t* path :
         {L"", L"C:\\Windows\\x.png", L"\\\\server\\share\\x.png", L"//server/share/x.png",
          L"\\x.png", L"../x.png", L"images/../../x.png", L"images/con.png", L"images/x.png:alt",
          L"images/\x1b.png"})
        EXPECT_FALSE(IsShippedPicturePath(path)) << path;
}

class ExclusiveTest : public FeedTest<> {
protected:
    void SetUp() override {
        FeedTest::SetUp();
        // Each test starts from no cache and its own picture folder.
        DeleteFileW((ProgramFolder() + L"feeds\\exclusive.json").c_str());
        EmptyFolder(L"exclusive");
    }
    std::set<std::wstring> Pictures() const { return Listing(folder + L"\\*"); }

    const std::wstring folder = ProgramFolder() + L"exclusive";
};

TEST_F(ExclusiveTest, OffersMakeTitlesPicturesTextsAndLinksUnderTheBanner) {
    Fed<ExclusiveStream> exclusive(panel.get());
    ASSERT_TRUE(exclusive.Build(R"({"items": [
        {"title": "Кофе", "body_plain": "Скидка <a href=\"http://b.example/c\">10%</a>",
         "image_url": "http://b.example/m/offer1.jpg", "link": "http://b.example/more"},
        {"title": "Свой", "image_url": "images/lumora.png"},
        {"title": "Чужой", "image_url": "\\\\server\\share\\x.png"},
        {"title": "Прибор", "image_url": "http://b.example/CON"}]})"));
    ASSERT_EQ(panel->pages.size(), 1u);
    const Page& page = *panel->pages[0];
    EXPECT_EQ(page.name, L"Exclusive");
    EXPECT_TRUE(page.scrollable);
    auto& children = page.model->children;
    ASSERT_EQ(children.size(), 1u + 4 * 3);  // the banner, then title, text, link an offer
    EXPECT_EQ(static_cast<MImage&>(*children[0]).path, L"images/lumora.png");
    // No picture ("-") rather than a foreign one.
    const wchar_t* pictures[] = {L"exclusive/offer1.jpg", L"images/lumora.png", L"-", L"-"};
    for (int offer = 0; offer < 4; ++offer) {
        auto& text = static_cast<MParagraph&>(*children[2 + 3 * offer]);
        EXPECT_EQ(text.floatImage ? text.floatImage->path : L"-", pictures[offer]) << offer;
    }
    auto& more = static_cast<MParagraph&>(*children[3]);
    EXPECT_EQ(static_cast<MLink&>(*more.children[0]).url, L"http://b.example/more");
    EXPECT_EQ(exclusive.pictures.kept(), std::set<std::wstring>{L"OFFER1.JPG"});

    exclusive.Build(R"({"items": []})");  // the banner alone
    EXPECT_EQ(panel->pages.back()->model->children.size(), 1u);
}

TEST_F(ExclusiveTest, TheRunsEndKeepsOnlyThePicturesItUsed) {
    for (const wchar_t* name : {L"old.jpg", L"offer1.jpg", L"offer2.jpg"})
        std::ofstream((folder + L"\\" + name).c_str());
    {
        Fed<ExclusiveStream> exclusive(panel.get());
        exclusive.Build(R"({"items": [{"image_url": "http://b.example/offer1.jpg"}]})");
        // Renamed on the server in letter case only: the same file here.
        exclusive.Build(R"({"items": [{"image_url": "http://b.example/Offer2.JPG"}]})");
        exclusive.Finish();
    }
    EXPECT_EQ(Pictures(), (std::set<std::wstring>{L"offer1.jpg", L"offer2.jpg"}));
    // A feed that is never told the run ended (its worker was left to end by
    // itself) deletes nothing: the next run may use the folder by then.
    { Fed<ExclusiveStream> left(panel.get()); }
    EXPECT_EQ(Pictures().size(), 2u);
    Fed<ExclusiveStream> idle(panel.get());
    idle.Finish();  // no build at all: nothing is kept
    EXPECT_TRUE(Pictures().empty());
}

TEST_F(ExclusiveTest, PicturesPastTheFoldersBytesAreLeftOutAndTheRestShown) {
    // p1 leaves ten bytes of the folder's budget: p2's eleven do not fit,
    // a missing p3 weighs nothing, and p1 named again costs nothing more.
    std::ofstream((folder + L"\\p1.png").c_str()) << std::string(kPictureFolderBytes - 10, 'x');
    std::ofstream((folder + L"\\p2.png").c_str()) << std::string(11, 'x');
    Fed<ExclusiveStream> exclusive(panel.get());
    exclusive.Build(R"({"items": [{"image_url": "http://b.example/p0.png"},
        {"image_url": "http://b.example/p1.png"}, {"image_url": "http://b.example/p2.png"},
        {"image_url": "http://b.example/p3.png"}, {"image_url": "http://b.example/P1.PNG"}]})");
    ASSERT_EQ(panel->pages.size(), 1u);
    auto& children = panel->pages[0]->model->children;
    ASSERT_EQ(children.size(), 1u + 5 * 3);
    const bool shown[] = {true, true, false, true, true};
    for (int offer = 0; offer < 5; ++offer)
        EXPECT_EQ(static_cast<MParagraph&>(*children[2 + 3 * offer]).floatImage != nullptr,
                  shown[offer])
            << offer;
    EXPECT_EQ(exclusive.pictures.kept(), (std::set<std::wstring>{L"P0.PNG", L"P1.PNG", L"P3.PNG"}));
}

TEST_F(ExclusiveTest, LeftTemporariesGoAtTheNextStartAndNothingElse) {
    const std::wstring base = ProgramFolder();
    CreateDirectoryW((base + L"feeds").c_str(), nullptr);
    const struct {
        const wchar_t* path;
        bool removed;
    } files[] = {
        {L"feeds\\orv1A2B.tmp", true}, {L"exclusive\\ORVf.TMP", true}, {L"orv0.tmp", true},
        {L"orvella_update.tmp", false}, {L"feeds\\orv12345.tmp", false},
        {L"feeds\\orv.tmp", false},     {L"exclusive\\orv1.tmp.png", false},
    };
    for (const auto& f : files)
        std::ofstream((base + f.path).c_str());
    RemoveLeftTemporaries();
    for (const auto& f : files) {
        EXPECT_EQ(GetFileAttributesW((base + f.path).c_str()) == INVALID_FILE_ATTRIBUTES,
                  f.removed)
            << f.path;
        DeleteFileW((base + f.path).c_str());
    }
}

TEST_F(ExclusiveTest, ThousandsOfOffersHoldNoMorePicturesThanTheBudget) {
    // A 1 x 1 GIF, saved under 3000 names: each offer its own picture.
    const char gif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00,\x00\x00"
                       "\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    std::string items;
    for (int i = 0; i < 3000; ++i) {
        std::ofstream((folder + L"\\d" + std::to_wstring(i) + L".gif").c_str(), std::ios::binary)
            .write(gif, sizeof(gif) - 1);
        items += std::string(i ? "," : "") + R"({"title": "x", "image_url": "http://b.example/d)" +
                 std::to_string(i) + R"(.gif"})";
    }
    const size_t before = gdip::PictureSectionCount();
    Fed<ExclusiveStream> exclusive(panel.get());
    exclusive.Build(R"({"items": [)" + items + "]}");
    ASSERT_EQ(panel->pages.size(), 1u);
    Page& page = *panel->pages[0];
    EXPECT_EQ(page.model->children.size(), 1 + 3 * kOfferItems);
    layoutPage(page, *canvas);
    // One picture an offer shown and the banner, one DIB section each.
    EXPECT_GE(gdip::PictureSectionCount() - before, std::min(kOfferItems, kFeedPictures));
    EXPECT_LE(gdip::PictureSectionCount() - before, 1 + kFeedPictures);
    page.scene.reset();
    EXPECT_EQ(gdip::PictureSectionCount(), before);
    EmptyFolder(L"exclusive");
}

}  // namespace
