// The Canvas's image and font caches and where its drawing lands.
#include "TestTree.h"
#include "base/Budgets.h"
#include "base/ModulePath.h"
#include "base/Threads.h"
#include "gfx/Layer.h"
#include "gfx/Palette.h"
#include "gfx/TextCache.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
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
        for (const std::wstring& name : written_)
            DeleteFileW((ProgramFolder() + name).c_str());
        TreeTest::TearDown();
    }
    // A picture of one colour beside the program, gone when the test ends.
    const wchar_t* Write(const wchar_t* name, int width, int height, unsigned rgb) {
        WriteTestBitmap(ProgramFolder() + name, width, height, rgb);
        written_.push_back(name);
        return name;
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
    // Writes straight ARGB pixels as a PNG file beside the program, gone when
    // the test ends.
    bool SavePng(const wchar_t* path, std::vector<uint32_t>& pixels, int width, int height) {
        written_.push_back(path);
        GpBitmap* made = nullptr;
        if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                      reinterpret_cast<BYTE*>(pixels.data()), &made) != Ok)
            return false;
        CLSID png{0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        GpStatus saved = GdipSaveImageToFile(made, ModuleRelativePath(path).c_str(), &png, nullptr);
        GdipDisposeImage(made);
        return saved == Ok;
    }
    // An 8 x 4 picture of straight ARGB pixels, through a PNG file and
    // LoadPicture; null when it cannot be written or read.
    ImagePtr SavedPicture(std::vector<uint32_t>& pixels, int width = 8, int height = 4) {
        return SavePng(kPicture, pixels, width, height) ? LoadPicture(kPicture) : nullptr;
    }

private:
    std::vector<std::wstring> written_;
};

TEST_F(CanvasTest, ImagesAreSharedByPathTextAndGoWithTheirLastUse) {
    EXPECT_FALSE(canvas->AcquireImage(kPicture));  // not there yet
    Write(kPicture, 4, 4, 0xFF0000);

    ImageUse first = canvas->AcquireImage(kPicture);
    ASSERT_TRUE(first);
    GpImage* image = first.get();
    {
        ImageUse second = canvas->AcquireImage(kPicture);
        EXPECT_EQ(second.get(), image);
        EXPECT_EQ(canvas->ImageUseCount(image), 2);

        ImageUse absolute = canvas->AcquireImage((ProgramFolder() + kPicture).c_str());
        EXPECT_NE(absolute.get(), image);
    }
    EXPECT_EQ(canvas->ImageUseCount(image), 1);
    ImageUse moved = std::move(first);
    moved.reset();
    EXPECT_EQ(canvas->ImageUseCount(image), 0);
    moved.reset();  // already gone: nothing more to give back
    EXPECT_FALSE(canvas->AcquireImage(nullptr));
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

TEST_F(CanvasTest, FontsAreCachedByFullStyleBoldIsTheShippedFaceAndOthersFallBack) {
    GpFont* regular = canvas->GetFont(L"PT Sans", 22, FontRegular);
    EXPECT_EQ(canvas->GetFont(L"PT Sans", 22, FontRegular), regular);
    EXPECT_NE(canvas->GetFont(L"PT Sans", 14, FontRegular), regular);
    GpFont* underlined = canvas->GetFont(L"PT Sans", 13, 4);
    GpFont* underlinedToo = canvas->GetFont(L"PT Sans", 13, 12);
    EXPECT_NE(underlined, underlinedToo);
    EXPECT_EQ(std::make_pair(StyleOf(underlined), StyleOf(underlinedToo)), std::make_pair(4, 4));

    GpFont* boldByName = canvas->GetFont(L"PT Sans Bold", 22, FontRegular);
    GpFont* boldByStyle = canvas->GetFont(L"PT Sans", 22, FontBold);
    EXPECT_EQ(FamilyOf(regular), L"PT Sans");
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
    GpFont* font = nullptr;
    GdipCreateFont(family, 22, FontBold, UnitPixel, &font);
    const FontPtr reference(font);
    ASSERT_TRUE(reference);
    std::vector<bool> expected = InkOf(*canvas, reference.get());
    EXPECT_EQ(InkOf(*canvas, boldByName), expected);
    // And it is not the regular face: far more ink.
    const std::vector<bool> thinner = InkOf(*canvas, regular);
    EXPECT_GT(std::count(expected.begin(), expected.end(), true),
              std::count(thinner.begin(), thinner.end(), true) * 4 / 3);

    // Only the shipped family is found by name once any was added.
    GpFont* unknown = canvas->GetFont(L"Arial", 20, FontRegular);
    EXPECT_NE(FamilyOf(unknown), L"PT Sans");
    EXPECT_GT(canvas->MeasureCharWidth(L'W', unknown), 5.0f);
}

TEST_F(CanvasTest, DrawingLandsWhereItIsPut) {
    GdipGraphicsClear(canvas->graphics.get(), 0xFFFFFFFFu);
    // A rounded rectangle leaves its corners clear.
    canvas->FillRoundRect(10, 10, 100, 50, 10, 0xFFFF0000u);
    EXPECT_EQ(Pixel(10, 10), 0xFFFFFFu);
    EXPECT_EQ(Pixel(109, 59), 0xFFFFFFu);
    EXPECT_EQ(Pixel(60, 35), 0xFF0000u);
    EXPECT_EQ(Pixel(60, 11), 0xFF0000u);

    // Text lies right of and below its origin.
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

    // A translation survives a push and a pop, but nothing else does.
    GpGraphics* g = canvas->graphics.get();
    GdipTranslateWorldTransform(g, 200, 40, MatrixOrderAppend);
    canvas->PushTranslation();
    GdipScaleWorldTransform(g, 3, 3, MatrixOrderPrepend);
    GdipTranslateWorldTransform(g, 100, 100, MatrixOrderAppend);
    canvas->PopTranslation();
    canvas->FillRect(0, 0, 2, 2, 0xFF0000FFu);
    EXPECT_EQ(Pixel(200, 40), 0x0000FFu);
    EXPECT_EQ(Pixel(203, 43), 0xFFFFFFu);  // the scale is gone
    GdipResetWorldTransform(g);
}

TEST_F(CanvasTest, LayersCopyOpaqueRunsBlendTheRestScrollTheirRowsAndCutPartsToThemselves) {
    Layer layer;
    ASSERT_TRUE(layer.Resize(6, 4));
    // Row 0 clear; row 1 opaque but for a half-covered pixel at each end;
    // row 2 opaque; row 3 opaque with a clear hole in the middle.
    for (int x = 0; x < 6; ++x) {
        layer.Row(1)[x] = x == 0 || x == 5 ? 0x80000080u : 0xFFFF0000u;
        layer.Row(2)[x] = 0xFF00FF00u;
        layer.Row(3)[x] = x == 2 ? 0u : 0xFF0000FFu;
    }
    layer.MarkChanged(0, 4);
    GdipGraphicsClear(canvas->graphics.get(), 0xFFFFFFFFu);
    GdipFlush(canvas->graphics.get(), FlushIntentionSync);
    // A part reaching past every edge is cut to the layer: white in its clear
    // row, in the hole and on the first pixels past it.
    layer.CopyTo(canvas->memoryDC(), 10, 20, RECT{-3, -3, 9, 9});
    const struct {
        int x, y;
        unsigned colour;
    } pixels[] = {{10, 20, 0xFFFFFFu}, {15, 20, 0xFFFFFFu}, {11, 21, 0xFF0000u},
                  {15, 22, 0x00FF00u}, {12, 23, 0xFFFFFFu}, {13, 23, 0x0000FFu},
                  {16, 22, 0xFFFFFFu}, {10, 24, 0xFFFFFFu}};
    for (const auto& p : pixels)
        EXPECT_EQ(Pixel(p.x, p.y), p.colour) << p.x << "," << p.y;
    const unsigned half = Pixel(10, 21);  // blue over white, half covered
    EXPECT_NEAR(int(half & 0xFF), 255, 2);
    EXPECT_NEAR(int(half >> 16), 127, 2);

    // Content scrolled down by one moves every row up by one, and back.
    layer.ScrollRows(1);
    EXPECT_EQ(layer.Row(1)[3], 0xFF00FF00u);
    EXPECT_EQ(layer.Row(2)[2], 0u);
    layer.ScrollRows(-2);
    EXPECT_EQ(layer.Row(3)[3], 0xFF00FF00u);
    layer.ScrollRows(4);  // the whole height or more: nothing to keep
    EXPECT_EQ(layer.Row(3)[3], 0xFF00FF00u);

    // Opaque layers keep their colour, scroll and put opaque pixels on others.
    Layer opaque, target;
    // An odd width: its 24-bit rows are padded to whole DWORDs.
    ASSERT_TRUE(opaque.ResizeOpaque(7, 3, 0x102030u) && target.Resize(10, 6));
    EXPECT_EQ(opaque.OpaqueRow(2)[6 * 3 + 2], 0x10);  // last pixel, red byte
    opaque.OpaqueRow(1)[0] = 0xAA;                    // blue of (0, 1)
    opaque.ScrollRows(1);
    EXPECT_EQ(opaque.OpaqueRow(0)[0], 0xAA);
    opaque.Clear(RECT{0, 0, 1, 1});
    EXPECT_EQ(opaque.OpaqueRow(0)[0], 0x30);
    opaque.OpaqueRow(2)[6 * 3] = 0x01;
    // A part reaching past both layers' edges is cut to them.
    opaque.DrawOn(target, 5, 4, RECT{-2, -2, 9, 9});
    EXPECT_EQ(target.Row(4)[5], 0xFF102030u);
    EXPECT_EQ(target.Row(5)[9], 0xFF102030u);
    EXPECT_EQ(target.Row(3)[5], 0u);  // the first rows and columns outside
    EXPECT_EQ(target.Row(4)[4], 0u);
    opaque.DrawOn(target, -6, 0, RECT{0, 0, 7, 3});
    EXPECT_EQ(target.Row(2)[0], 0xFF102001u);
}

TEST(CopyByRuns, CopiesOnlyThePartWhateverItsRunsAndRowsReachTo) {
    // The source is half-transparent blue everywhere, so that where its runs
    // are taken as opaque it is copied as it is, elsewhere in the part
    // blended, and outside the part nothing changes. The destination holds
    // the source at (2, 2); only the first three rows have runs.
    const struct {
        OpaqueRun run;  // every row's
        RECT part;
        int copiedLeft, copiedRight;  // source columns copied within the part
    } cases[] = {
        {{0, 8}, {2, 0, 6, 4}, 2, 6},   // the run wider than the part both ways
        {{3, 12}, {0, 0, 8, 4}, 3, 8},  // the run past the part's right
        {{0, 8}, {0, -2, 8, 6}, 0, 8},  // the part past the first row and the last run
        {{5, 5}, {0, 0, 8, 4}, 0, 0},   // no run: all blended
        {{6, 8}, {0, 0, 4, 4}, 0, 0},   // the run right of the part
        {{0, 1}, {2, 0, 6, 4}, 0, 0},   // the run left of the part
        {{0, 8}, {0, 1, 8, 2}, 0, 8},   // one row
    };
    constexpr uint32_t kUntouched = 0xFF00FF00u, kSource = 0x80000080u;
    constexpr int kRunRows = 3;
    for (const auto& c : cases) {
        Layer source, dest;
        ASSERT_TRUE(source.Resize(8, 4) && dest.Resize(12, 8));
        for (int y = 0; y < 4; ++y)
            std::fill(source.Row(y), source.Row(y) + 8, kSource);
        for (int y = 0; y < 8; ++y)
            std::fill(dest.Row(y), dest.Row(y) + 12, kUntouched);
        const std::vector<OpaqueRun> runs(kRunRows, c.run);
        CopyByRuns(dest.dc(), 2, 2, source.dc(), runs, c.part);
        GdiFlush();
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x) {
                const int sx = x - 2, sy = y - 2;
                const bool inPart = sy >= std::max(0L, c.part.top) &&
                                    sy < std::min(LONG(kRunRows), c.part.bottom) &&
                                    sx >= c.part.left && sx < c.part.right && sx < 8;
                const bool copied = inPart && sx >= c.copiedLeft && sx < c.copiedRight;
                const uint32_t pixel = dest.Row(y)[x];
                const char* found = pixel == kSource      ? "copied"
                                    : pixel == kUntouched ? "untouched"
                                                          : "blended";
                EXPECT_STREQ(found, copied ? "copied" : inPart ? "blended" : "untouched")
                    << "run " << c.run.left << "-" << c.run.right << " part " << c.part.left
                    << "," << c.part.top << " at " << sx << "," << sy;
            }
    }
}

TEST_F(CanvasTest, PicturesAtTheirOwnSizeBlendAsGdiPlusDrawsThemAndTellTheirOneColour) {
    // Half-transparent blue on the left, opaque red on the right.
    std::vector<uint32_t> pixels(8 * 4);
    for (int i = 0; i < 32; ++i)
        pixels[size_t(i)] = i % 8 < 4 ? 0x800000FFu : 0xFFFF0000u;
    ImagePtr picture = SavedPicture(pixels);
    ASSERT_TRUE(picture && PictureSection(picture.get()));

    Layer blended, drawn;
    ASSERT_TRUE(blended.Resize(20, 10) && drawn.Resize(20, 10));
    for (Layer* layer : {&blended, &drawn}) {
        Canvas::DrawingOnLayer on(*canvas, *layer);
        canvas->FillRect(0, 0, 20, 10, 0xFFFFFFFFu);
        GdipSetClipRectI(canvas->graphics.get(), 0, 0, 20, 3, CombineModeReplace);
        if (layer == &blended)
            canvas->DrawImage(picture.get(), 2, 1);  // at its own size: blended by GDI
        else
            GdipDrawImageRect(canvas->graphics.get(), picture.get(), 2, 1, 8, 4);
        GdipResetClip(canvas->graphics.get());
    }
    GdiFlush();
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const uint32_t a = blended.Row(y)[x], b = drawn.Row(y)[x];
            for (int shift = 0; shift < 32; shift += 8)
                EXPECT_NEAR(int((a >> shift) & 0xFF), int((b >> shift) & 0xFF), 2)
                    << x << "," << y;
        }

    // The one colour over an area inside a picture: opaque grey but for one
    // red pixel at (5, 2) and a clear last column.
    pixels.assign(8 * 4, 0xFF808080u);
    pixels[2 * 8 + 5] = 0xFFFF0000u;
    for (int y = 0; y < 4; ++y)
        pixels[size_t(y * 8 + 7)] = 0;
    picture = SavedPicture(pixels);
    ASSERT_TRUE(picture);
    EXPECT_EQ(SolidColour(picture.get(), RECT{0, 0, 5, 4}), 0x808080u);
    EXPECT_EQ(SolidColour(picture.get(), RECT{0, 0, 7, 2}), 0x808080u);
    EXPECT_FALSE(SolidColour(picture.get(), RECT{0, 0, 6, 4}));  // the red pixel
    EXPECT_FALSE(SolidColour(picture.get(), RECT{0, 0, 8, 2}));  // the clear column
    EXPECT_FALSE(SolidColour(picture.get(), RECT{0, 0, 5, 5}));  // a row past the bottom
    EXPECT_FALSE(SolidColour(picture.get(), RECT{-1, 0, 5, 4}));
    EXPECT_FALSE(SolidColour(picture.get(), RECT{2, 2, 2, 4}));  // empty
}

// A line of text at (x, y) drawn in a part of a layer, over a box of
// another colour or not.
struct LineCase {
    float x, y;
    RECT part;
    bool boxUnder;
    ARGB colour = 0xFF202020u;
    float scale = 1;
};

// Draws a line on a fresh opaque layer, either through the canvas's kept
// lines (a part being redrawn) or set directly by GDI+.
std::vector<uint8_t> Line(Canvas& canvas, bool kept, const LineCase& c) {
    const auto [x, y, part, boxUnder, colour, scale] = c;
    if (canvas.scale() != scale)  // which lets go of the kept lines
        canvas.SetScale(scale);
    Layer layer;
    if (!layer.ResizeOpaque(120, 30, 0xFFFFFFu))
        return {};
    GpFont* font = canvas.GetFont(kRegularFamily, 13, 0);
    auto draw = [&](const RECT&) {
        if (boxUnder)
            canvas.FillRect(x + 10, 0, 40, 30, 0xFFC00000u);
        canvas.DrawText(L"Новости банка", font, colour, x, y);
    };
    if (kept) {
        canvas.RedrawParts(layer, {part}, 0, 0, draw);
    } else {
        Canvas::DrawingOnLayer on(canvas, layer);
        GdipSetClipRectI(canvas.graphics.get(), part.left, part.top, part.right - part.left,
                         part.bottom - part.top, CombineModeReplace);
        GdipScaleWorldTransform(canvas.graphics.get(), scale, scale, MatrixOrderAppend);
        draw(part);
        GdipResetWorldTransform(canvas.graphics.get());
        GdipResetClip(canvas.graphics.get());
    }
    GdiFlush();
    std::vector<uint8_t> pixels;
    for (int row = 0; row < 30; ++row)
        pixels.insert(pixels.end(), layer.OpaqueRow(row), layer.OpaqueRow(row) + 120 * 3);
    return pixels;
}

TEST_F(CanvasTest, KeptLinesOfTextStayWithinTheirBudgetAndAreTheLinesGdiPlusSets) {
    // Many lines through a small cache: some kept, within its budget.
    GpFont* font = canvas->GetFont(kRegularFamily, 13, 0);
    Layer opaque, clear;
    ASSERT_TRUE(opaque.ResizeOpaque(200, 40, 0xFFFFFFu) && clear.Resize(200, 40));
    const RECT all{0, 0, 200, 40};
    TextCache cache(16 * 1024);
    for (int line = 0; line < 40; ++line) {
        const std::wstring text = L"строка " + std::to_wstring(line);
        ASSERT_TRUE(cache.Draw(opaque, all, text.c_str(), font, 0xFF000000u, 2, 2, 17));
        opaque.Clear(all);
    }
    EXPECT_LE(cache.bytes(), 16u * 1024u);
    EXPECT_GT(cache.lines(), 1u);
    EXPECT_LT(cache.lines(), 40u);
    EXPECT_FALSE(cache.Draw(clear, all, L"x", font, 0xFF000000u, 2, 2, 17));
    EXPECT_FALSE(cache.Draw(opaque, all, L"x", font, 0xFF000000u, -0.5f, 2, 17));
    EXPECT_FALSE(cache.Draw(opaque, all, L"две\nстроки", font, 0xFF000000u, 2, 2, 17));
    // In the layer's own colour (white on a red strip, say): set directly.
    EXPECT_FALSE(cache.Draw(opaque, all, L"x", font, 0xFFFFFFFFu, 2, 2, 17));

    // The canvas's kept lines against GDI+ setting them directly.
    const LineCase cases[] = {
        {3, 4, {0, 0, 120, 30}, false},
        {3.5f, 4.25f, {0, 0, 120, 30}, false},  // within a pixel
        {3, -6, {0, 0, 120, 30}, false},        // starting above the layer
        {3, 4, {0, 10, 120, 14}, false},        // through a strip of rows
        {3, 4, {20, 0, 40, 30}, false},         // through a strip of columns
        {3, 4, {0, 0, 120, 30}, true},          // over another colour: set directly
        {3, 4, {0, 0, 120, 30}, true, 0xFFFFFFFFu},  // white over it
        {3, 4, {0, 0, 120, 30}, false, 0xFF202020u, 1.5f},  // in a world at a screen's scale
        {3.25f, 1, {0, 0, 120, 30}, false, 0xFF202020u, 2},
        {3, 1, {10, 0, 50, 30}, true, 0xFF202020u, 2},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> direct = Line(*canvas, false, c);
        ASSERT_FALSE(direct.empty());
        // Set once, then copied from what was kept.
        for (int time = 0; time < 2; ++time)
            EXPECT_TRUE(Line(*canvas, true, c) == direct)
                << c.x << "," << c.y << " part " << c.part.left << "," << c.part.top
                << " scale " << c.scale << " time " << time;
    }
}


TEST(ScaledPictures, OursAreDrawnForTheScaleAndOthersAsTheyAre) {
    const struct {
        const wchar_t* path;
        float scale;
        const wchar_t* drawn;
    } cases[] = {
        {L"images/a.png", 1.5f, L"images/a@1.5x.png"},
        {L"images/a.png", 1.51f, L"images/a@2x.png"},
        {L"images\\partners\\b.png", 2, L"images\\partners\\b@2x.png"},
        {L"maps/city.png", 2, L"maps/city.png"},  // a feed's
        {L"images/a.jpg", 2, L"images/a.jpg"},
        {L"images/../maps/c.png", 2, L"images/../maps/c.png"},
        {L"images/.png", 2, L"images/.png"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaledPicturePath(c.path, c.scale), c.drawn) << c.path << " at " << c.scale;
}

TEST_F(CanvasTest, OurPicturesAreDrawnFromTheDrawingForTheScaleAtTheirDesignSize) {
    // Each drawing of its own colour: 4 x 2 red, 6 x 3 green, 8 x 4 blue.
    const wchar_t* picture = Write(L"images/canvas_scaled.png", 4, 2, 0xFF0000);
    Write(L"images/canvas_scaled@1.5x.png", 6, 3, 0x00FF00);
    Write(L"images/canvas_scaled@2x.png", 8, 4, 0x0000FF);
    // The colour in the picture's middle and just past its right edge,
    // drawn at (1, 1) on a layer at the scale.
    auto drawn = [&](const ImageUse& use, float scale) {
        Layer layer;
        EXPECT_TRUE(layer.Resize(30, 20));
        canvas->RedrawParts(layer, {RECT{0, 0, 30, 20}}, 0, 0,
                            [&](const RECT&) { canvas->DrawImage(use.get(), 1, 1); });
        const int x = int(std::lround(3 * scale)), y = int(std::lround(2 * scale));
        const int past = int(std::ceil(5 * scale));
        return std::pair{layer.Row(y)[x] & 0xFFFFFFu, layer.Row(y)[past]};
    };
    const struct {
        float scale;
        uint32_t colour;
    } scales[] = {{1, 0xFF0000u}, {1.5f, 0x00FF00u}, {2, 0x0000FFu}, {1.25f, 0x00FF00u}};
    for (const auto& at : scales) {
        canvas->SetScale(at.scale);
        ImageUse use = canvas->AcquireImage(picture);
        ASSERT_TRUE(use);
        const auto [inside, past] = drawn(use, at.scale);
        // Of that drawing's colour alone (scaled down, its edges blend).
        EXPECT_TRUE((inside & at.colour) && !(inside & ~at.colour)) << at.scale << ": " << inside;
        EXPECT_EQ(past, 0u) << at.scale;
    }

    // Held across a change of scale: drawn from the drawing for the new one;
    // where that is missing, from the picture itself.
    canvas->SetScale(1);
    ImageUse held = canvas->AcquireImage(picture);
    canvas->SetScale(2);
    EXPECT_EQ(drawn(held, 2).first, 0x0000FFu);
    DeleteFileW(ModuleRelativePath(L"images/canvas_scaled@1.5x.png").c_str());
    canvas->SetScale(1.5f);
    EXPECT_EQ(drawn(held, 1.5f).first, 0xFF0000u);
    held.reset();

    // A feed's picture, of no drawings: drawn from a copy at the layer's
    // size, or, past the copies' budget, scaled as it is drawn.
    ImageUse feed = canvas->AcquireImage(Write(kPicture, 8, 4, 0x00FF00));
    ASSERT_TRUE(feed);
    canvas->SetScale(2);
    for (float size : {8.0f, 2000.0f}) {  // 2000 x 1000 at 2x: 16 MB
        Layer layer;
        ASSERT_TRUE(layer.Resize(40, 20));
        canvas->RedrawParts(layer, {RECT{0, 0, 40, 20}}, 0, 0, [&](const RECT&) {
            canvas->DrawImage(feed.get(), 1, 1, size, size / 2);
        });
        EXPECT_EQ(layer.Row(5)[5], 0xFF00FF00u) << size;
        EXPECT_EQ(layer.Row(1)[1], 0u) << size;
    }
    canvas->SetScale(1);
}

TEST(CanvasMemoryTest, ScreenSizedBackBuffersGoBackWithTheirCanvas) {
    // Without a window the back buffer covers the whole screen.
    double bufferBytes = 0;
    {
        Canvas canvas(nullptr);
        DIBSECTION section{};
        // A compatible bitmap answers only its BITMAP part.
        HGDIOBJ buffer = GetCurrentObject(canvas.memoryDC(), OBJ_BITMAP);
        EXPECT_EQ(GetObjectW(buffer, sizeof(section), &section), int(sizeof(section)));
        EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
        bufferBytes = double(section.dsBm.bmWidthBytes) * double(section.dsBm.bmHeight);
    }
    // The panel is attached and closed again and again in one shell: what
    // one canvas held must not stay once it is gone, nor pile up.
    const double before = double(PrivateBytes());
    for (int attach = 0; attach < 4; ++attach) {
        // Half of them written ahead; the last let go while it may be writing.
        Canvas canvas(nullptr, attach % 2 == 1);
        if (attach == 3)
            continue;
        canvas.WaitForBackBuffer();
        GdipGraphicsClear(canvas.graphics.get(), 0xFF204060);
        GdipFlush(canvas.graphics.get(), FlushIntentionSync);
        EXPECT_EQ(PixelAt(canvas.memoryDC(), 5, 5), 0x204060u) << attach;
    }
    EXPECT_LT(double(PrivateBytes()) - before, bufferBytes / 2);
}

std::string Header(std::initializer_list<int> bytes) {
    std::string text;
    for (int b : bytes)
        text += char(b);
    return text;
}

// A PNG's signature and a header declaring 16384 x 16384 pixels.
const std::string kHugePng = Header({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H',
                                     'D', 'R', 0, 0, 0x40, 0, 0, 0, 0x40, 0});


TEST_F(CanvasTest, DeclaredSizesAreReadBeforeDecodingAndPicturesRefusedPastTheBudgetOrHeld) {
    const std::string jpeg = Header({0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xFF, 0xC2, 0,
                                     11, 8, 0x01, 0x02, 0x03, 0x04});
    const struct {
        std::string header;
        bool read;
        uint32_t width, height;
    } cases[] = {
        {kHugePng, true, 16384, 16384},
        {kHugePng.substr(0, 23), false, 0, 0},
        {"GIF89a" + Header({0x3E, 0x01, 0xD4, 0x01}), true, 318, 468},
        {"GIF88a" + Header({1, 0, 1, 0}), false, 0, 0},
        // BMP, bottom-up and top-down rows; the old 12-byte core header.
        {"BM" + std::string(12, 0) + Header({40, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}), true, 2, 3},
        {"BM" + std::string(12, 0) + Header({40, 0, 0, 0, 2, 0, 0, 0, 0xFD, 0xFF, 0xFF, 0xFF}),
         true, 2, 3},
        {"BM" + std::string(12, 0) + Header({12, 0, 0, 0, 5, 0, 6, 0, 0, 0, 0, 0}), true, 5, 6},
        // JPEG: a segment skipped by its length, fill bytes, a progressive frame.
        {jpeg, true, 0x0304, 0x0102},
        {jpeg.substr(0, 14), false, 0, 0},
        {Header({0xFF, 0xD8, 0xFF, 0xDA, 0, 2}), false, 0, 0},
        {"<svg/>", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t width = 1, height = 1;
        EXPECT_EQ(DeclaredPictureSize(reinterpret_cast<const BYTE*>(c.header.data()),
                                      c.header.size(), width, height),
                  c.read)
            << c.header.size();
        if (c.read) {
            EXPECT_EQ(std::make_pair(width, height), std::make_pair(c.width, c.height))
                << c.header.size();
        }
    }

    // Declared past the pixel budget: never decoded, whatever follows.
    std::ofstream(std::filesystem::path(ModuleRelativePath(kPicture)), std::ios::binary)
        << kHugePng + Header({1, 0, 0, 0, 0});
    EXPECT_EQ(LoadPicture(kPicture), nullptr);
    const size_t sections = PictureSectionCount();
    // Sizes at and one past each side of the held box.
    const struct {
        int width, height, heldWidth, heldHeight;
    } sizes[] = {
        {int(kPictureHeldWidth), 10, int(kPictureHeldWidth), 10},
        {int(kPictureHeldWidth) + 1, 10, int(kPictureHeldWidth), 9},
        {10, int(kPictureHeldHeight), 10, int(kPictureHeldHeight)},
        {20, int(kPictureHeldHeight) * 2, 10, int(kPictureHeldHeight)},
    };
    for (const auto& size : sizes) {
        ImagePtr picture = LoadPicture(Write(kPicture, size.width, size.height, 0x336699));
        ASSERT_NE(picture, nullptr) << size.width;
        UINT width = 0, height = 0;
        GdipGetImageWidth(picture.get(), &width);
        GdipGetImageHeight(picture.get(), &height);
        EXPECT_EQ(std::make_pair(int(width), int(height)),
                  std::make_pair(size.heldWidth, size.heldHeight))
            << size.width << " x " << size.height;
        const LONG x = LONG(width) / 2, y = LONG(height) / 2;
        EXPECT_EQ(SolidColour(picture.get(), RECT{x, y, x + 1, y + 1}), 0x336699u);
        EXPECT_EQ(PictureSectionCount(), sections + 1);
    }
    EXPECT_EQ(PictureSectionCount(), sections);
}

TEST_F(CanvasTest, PicturesDecodedAheadAreHandedOverOnceWithinABudgetAndGoAtTheEnd) {
    // Forty pictures of the held size, 2.4 MB of pixels each.
    const int width = int(kPictureHeldWidth), height = int(kPictureHeldHeight);
    std::vector<std::wstring> paths;
    for (int i = 0; i < 40; ++i) {
        std::vector<uint32_t> pixels(size_t(width) * height, 0xFF000000u | unsigned(i));
        paths.push_back(L"canvas_test_ahead_" + std::to_wstring(i) + L".png");
        ASSERT_TRUE(SavePng(paths.back().c_str(), pixels, width, height));
    }
    const int running = threadsRunning;
    const size_t before = PictureSectionCount();
    PrefetchPictures(paths);
    ASSERT_TRUE(PumpUntil(PrefetchIdle, 20000)) << "the pictures ahead were never decoded";
    const size_t held = PictureSectionCount();
    // Held within 16 MB of pixels, the first in the queue first.
    EXPECT_LE(held - before, size_t((16u << 20) / (uint64_t(width) * height * 4)));
    {
        ImagePtr first = LoadPicture(paths[0].c_str());  // handed over, not decoded again
        EXPECT_EQ(PictureSectionCount(), held);
        EXPECT_EQ(SolidColour(first.get(), RECT{0, 0, width, height}), 0u);
        ImagePtr again = LoadPicture(paths[0].c_str());  // once: a second use decodes
        EXPECT_EQ(PictureSectionCount(), held + 1);
        ImagePtr last = LoadPicture(paths.back().c_str());  // past the budget: decoded here
        EXPECT_EQ(SolidColour(last.get(), RECT{0, 0, width, height}), 39u);
        EXPECT_EQ(PictureSectionCount(), held + 2);
    }
    EndPrefetch();
    EXPECT_EQ(PictureSectionCount(), before);
    EXPECT_TRUE(ThreadsEndBy(running, 5000)) << "the decoding thread never ended";
}

}  // namespace
