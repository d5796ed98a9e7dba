// The Canvas's image and font caches and where its drawing lands.
#include "TestTree.h"

#include <string>

namespace {

using namespace gdip;

constexpr wchar_t kPicture[] = L"canvas_test_picture.bmp";

class CanvasTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        DeleteFileW((ProgramFolder() + kPicture).c_str());
        canvas->AddPrivateFont(L"fonts/PTSans Bold.ttf");
        canvas->AddPrivateFont(L"fonts/PTSans Regular.ttf");
    }
    void TearDown() override {
        DeleteFileW((ProgramFolder() + kPicture).c_str());
        TreeTest::TearDown();
    }

    std::wstring FamilyOf(GpFont* font) {
        GpFontFamily* family = nullptr;
        wchar_t name[LF_FACESIZE] = {};
        if (GdipGetFamily(font, &family) == Ok)
            GdipGetFamilyName(family, name, LANG_NEUTRAL);
        GdipDeleteFontFamily(family);
        return name;
    }
    int StyleOf(GpFont* font) {
        INT style = -1;
        GdipGetFontStyle(font, &style);
        return style;
    }
    void Clear(ARGB colour) { GdipGraphicsClear(canvas->graphics.get(), colour); }
    unsigned Pixel(int x, int y) { return PixelAt(canvas->memoryDC, x, y); }
};

TEST_F(CanvasTest, ImagesAreSharedByPathTextAndGoWithTheirLastUse) {
    EXPECT_EQ(canvas->AcquireImage(kPicture), nullptr);  // not there yet
    WriteTestBitmap(ProgramFolder() + kPicture, 4, 4, 0xFF0000);

    GpImage* first = canvas->AcquireImage(kPicture);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(canvas->AcquireImage(kPicture), first);
    EXPECT_EQ(canvas->ImageUseCount(first), 2);

    GpImage* absolute = canvas->AcquireImage((ProgramFolder() + kPicture).c_str());
    EXPECT_NE(absolute, first);
    EXPECT_EQ(canvas->ImageUseCount(absolute), 1);

    canvas->ReleaseImage(first);
    EXPECT_EQ(canvas->ImageUseCount(first), 1);
    canvas->ReleaseImage(first);
    EXPECT_EQ(canvas->ImageUseCount(first), 0);
    canvas->ReleaseImage(first);  // already gone: ignored
    canvas->ReleaseImage(absolute);
    EXPECT_EQ(canvas->AcquireImage(nullptr), nullptr);
    EXPECT_EQ(canvas->AcquireImage(L"images/no-such-picture.png"), nullptr);
}

TEST_F(CanvasTest, FontsAreCachedByFamilySizeAndFullStyle) {
    GpFont* plain = canvas->GetFont(L"PT Sans", 13, 0);
    EXPECT_EQ(canvas->GetFont(L"PT Sans", 13, 0), plain);
    EXPECT_NE(canvas->GetFont(L"PT Sans", 14, 0), plain);

    GpFont* underlined = canvas->GetFont(L"PT Sans", 13, 4);
    GpFont* underlinedToo = canvas->GetFont(L"PT Sans", 13, 12);
    EXPECT_NE(underlined, underlinedToo);
    EXPECT_EQ(StyleOf(underlined), 4);
    EXPECT_EQ(StyleOf(underlinedToo), 4);
}

TEST_F(CanvasTest, ShippedFamiliesResolveAndOthersFallBackToSansSerif) {
    GpFont* regular = canvas->GetFont(L"PT Sans", 20, 0);
    GpFont* bold = canvas->GetFont(L"PT Sans Bold", 20, 0);
    EXPECT_EQ(FamilyOf(regular), L"PT Sans");
    EXPECT_EQ(FamilyOf(bold), L"PT Sans Bold");
    // The two faces are about as wide; the bold one lays down more ink.
    auto ink = [&](GpFont* font) {
        Clear(0xFFFFFFFFu);
        canvas->DrawText(L"Курс ЦБ на завтра", font, 0xFF000000u, 10, 10);
        int dark = 0;
        for (int y = 10; y < 40; ++y)
            for (int x = 10; x < 250; ++x)
                dark += Pixel(x, y) < 0x808080u;
        return dark;
    };
    EXPECT_GT(ink(bold), ink(regular) * 4 / 3);

    // Only the shipped families are found by name once any was added.
    GpFont* unknown = canvas->GetFont(L"Arial", 20, 0);
    ASSERT_NE(unknown, nullptr);
    EXPECT_NE(FamilyOf(unknown), L"PT Sans");
    EXPECT_GT(canvas->MeasureCharWidth(L'W', unknown), 5.0f);
}

TEST_F(CanvasTest, RoundedRectangleLeavesItsCornersClear) {
    Clear(0xFFFFFFFFu);
    canvas->FillRoundRect(10, 10, 100, 50, 10, 0xFFFF0000u);
    EXPECT_EQ(Pixel(10, 10), 0xFFFFFFu);
    EXPECT_EQ(Pixel(109, 59), 0xFFFFFFu);
    EXPECT_EQ(Pixel(60, 35), 0xFF0000u);
    EXPECT_EQ(Pixel(60, 11), 0xFF0000u);
}

TEST_F(CanvasTest, TextLandsRightOfAndBelowItsOrigin) {
    Clear(0xFFFFFFFFu);
    GpFont* font = canvas->GetFont(L"PT Sans", 20, 0);
    canvas->DrawText(L"ЖЖ", font, 0xFF000000u, 50, 100);
    canvas->DrawText(nullptr, font, 0xFF000000u, 0, 0);
    int inside = 0, outside = 0;
    for (int y = 80; y < 150; ++y)
        for (int x = 30; x < 120; ++x) {
            bool dark = Pixel(x, y) < 0x808080u;
            bool inBox = x >= 50 && x < 90 && y >= 100 && y < 130;
            (inBox ? inside : outside) += dark;
        }
    EXPECT_GT(inside, 40);
    EXPECT_EQ(outside, 0);
}

TEST_F(CanvasTest, TranslationsSurviveAPushAndPopButNothingElse) {
    Clear(0xFFFFFFFFu);
    GpGraphics* g = canvas->graphics.get();
    GdipTranslateWorldTransform(g, 30, 40, MatrixOrderAppend);
    canvas->PushTranslation();
    GdipScaleWorldTransform(g, 3, 3, MatrixOrderPrepend);
    GdipTranslateWorldTransform(g, 100, 100, MatrixOrderAppend);
    canvas->PopTranslation();
    canvas->FillRect(0, 0, 2, 2, 0xFF0000FFu);
    EXPECT_EQ(Pixel(30, 40), 0x0000FFu);
    EXPECT_EQ(Pixel(33, 43), 0xFFFFFFu);  // the scale is gone

    canvas->PopTranslation();  // nothing saved: the identity
    canvas->FillRect(0, 0, 2, 2, 0xFF00FF00u);
    EXPECT_EQ(Pixel(0, 0), 0x00FF00u);
}

}  // namespace
