// The Canvas's image and font caches and where its drawing lands.
#include "TestTree.h"
#include "base/ModulePath.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace gdip;

constexpr wchar_t kPicture[] = L"canvas_test_picture.bmp";

class CanvasTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        DeleteFileW((ProgramFolder() + kPicture).c_str());
        canvas->AddShippedFonts();
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
    unsigned Pixel(int x, int y) { return PixelAt(canvas->memoryDC(), x, y); }
};

TEST_F(CanvasTest, ImagesAreSharedByPathTextAndGoWithTheirLastUse) {
    EXPECT_FALSE(canvas->AcquireImage(kPicture));  // not there yet
    WriteTestBitmap(ProgramFolder() + kPicture, 4, 4, 0xFF0000);

    ImageUse first = canvas->AcquireImage(kPicture);
    ASSERT_TRUE(first);
    GpImage* image = first.get();
    {
        ImageUse second = canvas->AcquireImage(kPicture);
        EXPECT_EQ(second.get(), image);
        EXPECT_EQ(canvas->ImageUseCount(image), 2);

        ImageUse absolute = canvas->AcquireImage((ProgramFolder() + kPicture).c_str());
        EXPECT_NE(absolute.get(), image);
        EXPECT_EQ(canvas->ImageUseCount(absolute.get()), 1);
    }
    EXPECT_EQ(canvas->ImageUseCount(image), 1);
    ImageUse moved = std::move(first);
    EXPECT_EQ(canvas->ImageUseCount(image), 1);
    moved.reset();
    EXPECT_EQ(canvas->ImageUseCount(image), 0);
    moved.reset();  // already gone: nothing more to give back
    EXPECT_FALSE(canvas->AcquireImage(nullptr));
    EXPECT_FALSE(canvas->AcquireImage(L"images/no-such-picture.png"));
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

// The dark pixels of a text drawn at (10, 10), as a mask of the area.
std::vector<bool> InkOf(Canvas& canvas, GpFont* font) {
    GdipGraphicsClear(canvas.graphics.get(), 0xFFFFFFFFu);
    canvas.DrawText(L"Курс ЦБ на завтра", font, 0xFF000000u, 10, 10);
    std::vector<bool> mask;
    for (int y = 10; y < 45; ++y)
        for (int x = 10; x < 300; ++x)
            mask.push_back(PixelAt(canvas.memoryDC(), x, y) < 0x808080u);
    return mask;
}

int Count(const std::vector<bool>& mask) {
    return int(std::count(mask.begin(), mask.end(), true));
}

TEST_F(CanvasTest, BoldIsTheShippedBoldFaceOfPtSansAndOthersFallBackToSansSerif) {
    GpFont* regular = canvas->GetFont(L"PT Sans", 22, FontRegular);
    GpFont* boldByName = canvas->GetFont(L"PT Sans Bold", 22, FontRegular);
    GpFont* boldByStyle = canvas->GetFont(L"PT Sans", 22, FontBold);
    EXPECT_EQ(FamilyOf(regular), L"PT Sans");
    EXPECT_EQ(FamilyOf(boldByName), L"PT Sans");
    EXPECT_EQ(StyleOf(boldByName), FontBold);
    EXPECT_EQ(boldByName, boldByStyle);  // one face, one cache entry

    // The bold face as GDI+ finds it in the shipped bold file alone: the
    // canvas must draw exactly its glyphs, not a fallback's nor a regular
    // face thickened.
    GpFontCollection* alone = nullptr;
    ASSERT_EQ(GdipNewPrivateFontCollection(&alone), Ok);
    FontCollectionPtr aloneOwner(alone);
    GdipPrivateAddFontFile(alone, ModuleRelativePath(L"fonts/PTSans Bold.ttf").c_str());
    GpFontFamily* family = nullptr;
    ASSERT_EQ(GdipCreateFontFamilyFromName(L"PT Sans", alone, &family), Ok);
    FontFamilyPtr familyOwner(family);
    GpFont* reference = nullptr;
    ASSERT_EQ(GdipCreateFont(family, 22, FontBold, UnitPixel, &reference), Ok);
    FontPtr referenceOwner(reference);

    std::vector<bool> expected = InkOf(*canvas, reference);
    EXPECT_EQ(InkOf(*canvas, boldByName), expected);
    GpFont* small = canvas->GetFont(L"PT Sans", 13, FontBold);
    GpFont* smallReference = nullptr;
    ASSERT_EQ(GdipCreateFont(family, 13, FontBold, UnitPixel, &smallReference), Ok);
    FontPtr smallOwner(smallReference);
    EXPECT_EQ(InkOf(*canvas, small), InkOf(*canvas, smallReference));
    // And it is not the regular face: other shapes, and more ink.
    std::vector<bool> plain = InkOf(*canvas, regular);
    EXPECT_NE(plain, expected);
    EXPECT_GT(Count(expected), Count(plain) * 4 / 3);

    // Only the shipped family is found by name once any was added.
    GpFont* unknown = canvas->GetFont(L"Arial", 20, FontRegular);
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
