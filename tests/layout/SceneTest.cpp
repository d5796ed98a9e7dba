// Scene elements: edge hits, drawing of buttons, image uses, and the queries.
#include "LayoutFixture.h"

#include <tuple>

namespace {

TEST(SceneQueries, HitsAtTheEdgesOfTextsAndLinkRunsAndFindsThroughNestedContainers) {
    SText text(FloatRect{10, 10, 20, 10}, L"abc", nullptr);
    EXPECT_TRUE(text.hitTest(10, 10));
    EXPECT_TRUE(text.hitTest(29, 19));
    EXPECT_FALSE(text.hitTest(30, 15));
    EXPECT_FALSE(text.hitTest(15, 20));

    SLink link(FloatRect{10, 10, 20, 10}, L"first", L"http://x");
    link.addRun(L"second", 6, FloatRect{0, 20, 20, 10});
    EXPECT_FALSE(link.hitTest(10, 15));  // left edge of the first run
    EXPECT_FALSE(link.hitTest(15, 10));  // top edge
    EXPECT_TRUE(link.hitTest(15, 15));
    EXPECT_TRUE(link.hitTest(20, 30));  // corner of a further run
    EXPECT_TRUE(link.hitTest(0, 20));
    EXPECT_FALSE(link.hitTest(21, 25));

    // findAt and findAnchor walk nested containers.
    SContainer outer(FloatRect{10, 10, 200, 200});
    auto inner = std::make_unique<SContainer>(FloatRect{5, 5, 50, 50});
    auto* nested = static_cast<SLink*>(
        inner->add(std::make_unique<SLink>(FloatRect{20, 20, 10, 10}, L"l", L"u")));
    inner->add(std::make_unique<SText>(FloatRect{1, 7, 10, 10}, L"a", nullptr))->name = L"x";
    SElement* innerPtr = outer.add(std::move(inner));
    outer.add(std::make_unique<SText>(FloatRect{0, 100, 10, 10}, L"b", nullptr))->name = L"x";

    IntRect found{};
    EXPECT_EQ(findAt(outer, 20, 20, SceneContainer, &found), innerPtr);
    EXPECT_EQ(std::make_pair(found.x, found.width), std::make_pair(15, 50));
    EXPECT_EQ(findAt(outer, 40, 40, SceneLink, &found), nested);
    EXPECT_EQ(std::make_pair(found.x, found.y), std::make_pair(35, 35));
    EXPECT_EQ(findAt(outer, 300, 300, SceneLink), nullptr);

    float y = 0;
    SElement* anchor = findAnchor(outer, L"x", &y);
    ASSERT_NE(anchor, nullptr);
    EXPECT_EQ(anchor->rect.y, 7);
    EXPECT_EQ(y, 12);
    EXPECT_EQ(findAnchor(outer, nullptr), nullptr);
    EXPECT_EQ(firstLeaf(outer), nested);
    EXPECT_EQ(firstLeaf(SContainer(FloatRect{})), nullptr);
}

class SceneDrawing : public LayoutTest {};

// Counts its paints.
struct Counted : SElement {
    explicit Counted(const FloatRect& r) : SElement(SceneText, r) {}
    void draw(Canvas&) override { ++draws; }
    int draws = 0;
};

TEST_F(SceneDrawing, OnlyElementsInTheClipArePaintedButtonsKeepTheirLookAndPicturesGoBack) {
    SContainer scene(FloatRect{0, 20, 280, 2000});
    auto counted = [&](float y) {
        return static_cast<Counted*>(scene.add(std::make_unique<Counted>(FloatRect{0, y, 50, 16})));
    };
    Counted *above = counted(0), *edge = counted(120), *below = counted(900);
    // A link starting above the view whose wrapped line shows in it.
    auto* link = static_cast<SLink*>(
        scene.add(std::make_unique<SLink>(FloatRect{0, 60, 50, 16}, L"ШШШ", L"u")));
    link->addRun(L"ШШШ", 3, FloatRect{0, 160, 50, 16});
    link->font = ResolveFont(*canvas, &bold);
    link->color = 0xFF000000u;
    gdip::GdipGraphicsClear(canvas->graphics.get(), 0xFFFFFFFFu);
    gdip::GdipSetClipRectI(canvas->graphics.get(), 0, 150, 280, 100, gdip::CombineModeReplace);
    scene.draw(*canvas);
    gdip::GdipResetClip(canvas->graphics.get());
    EXPECT_EQ(std::make_tuple(above->draws, edge->draws, below->draws), std::make_tuple(0, 1, 0));
    // The link reaches the view through its further run, which is painted
    // (the scene lies 20 pixels down the canvas).
    int inked = 0;
    for (int y = 180; y < 196; ++y)
        for (int x = 0; x < 50; ++x)
            inked += Pixel(x, y) < 0x808080u;
    EXPECT_GT(inked, 20);

    // A button without a hover picture keeps its normal look, and the scene
    // gives back its pictures.
    std::wstring picture = Picture(8, 8);
    ImageUse use = canvas->AcquireImage(picture.c_str());
    gdip::GpImage* normal = use.get();
    {
        SContainer buttons(FloatRect{40, 30, 100, 100});
        auto* button = static_cast<SButton*>(buttons.add(std::make_unique<SButton>(
            FloatRect{2, 2, 8, 8}, FloatRect{2, 2, 8, 8}, std::move(use), ImageUse())));
        button->hover = true;
        gdip::GdipGraphicsClear(canvas->graphics.get(), 0xFFFFFFFFu);
        buttons.draw(*canvas);
        EXPECT_EQ(Pixel(45, 35), 0x3366CCu);
        EXPECT_EQ(canvas->ImageUseCount(normal), 1);
    }
    EXPECT_EQ(canvas->ImageUseCount(normal), 0);
}

}  // namespace
