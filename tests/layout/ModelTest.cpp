// Layout geometry of blocks, rows, paragraphs, lists and headers.
#include "LayoutFixture.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

namespace {

class ModelTest : public LayoutTest {
protected:
    std::unique_ptr<MParagraph> Paragraph(const wchar_t* text, const FontSpec& font) {
        auto paragraph = std::make_unique<MParagraph>();
        paragraph->addText(text, &font, 0xFF000000u);
        return paragraph;
    }
};

TEST_F(ModelTest, AutomaticColumnsShareTheRow) {
    MColumns row;
    row.rect.width = 310;
    row.padding = Padding{5, 5, 0, 0};
    for (int i = 0; i < 3; ++i)
        row.add(Paragraph(L"колонка", body));
    auto scene = row.layout(*canvas);
    ASSERT_EQ(scene->children.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(scene->children[i]->rect.width, 100);
        EXPECT_EQ(scene->children[i]->rect.x, 5 + 100 * i);
    }
    EXPECT_EQ(scene->rect.height, LineHeight(body));
}

// Every piece of a paragraph's text, a link's further lines included, by the
// top of its line.
std::map<float, std::vector<FloatRect>> LinesOf(const SContainer& scene) {
    std::map<float, std::vector<FloatRect>> lines;
    for (const auto& child : scene.children) {
        lines[child->rect.y].push_back(child->rect);
        if (child->kind == SceneLink)
            for (const SLink::Run& run : static_cast<const SLink&>(*child).runs)
                lines[run.rect.y].push_back(run.rect);
    }
    return lines;
}

TEST_F(ModelTest, AlignedLinesPicturesAndButtonsStayWithinThePadding) {
    // A paragraph's inner width runs from 10 to 180: where each alignment
    // puts every line's left edge, middle or right edge. A block's runs from
    // 30 to 270: where it puts a picture and a button 40 wide.
    enum Edge { LeftEdge, Middle, RightEdge };
    const struct {
        int align;
        Edge edge;
        float at, pictureX;
    } cases[] = {{AlignLeft, LeftEdge, 10, 30},
                 {AlignCentre, Middle, 95, 130},
                 {AlignRight, RightEdge, 180, 230}};
    std::wstring picture = Picture(40, 20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.align);
        MParagraph paragraph;
        paragraph.rect.width = 200;
        paragraph.padding = Padding{10, 20, 0, 0};
        paragraph.textAlign = c.align;
        paragraph.addText(L"Смотрите ", &body, 0xFF000000u);
        paragraph.addLink(L"новые офисы и банкоматы Orvella рядом с вашим домом и работой",
                          L"page://offices", &body, 0xFFCC0000u, &bold, 0xFF000000u);
        paragraph.addText(L" сегодня", &body, 0xFF000000u);
        auto scene = paragraph.layout(*canvas);
        auto lines = LinesOf(*scene);
        // One link, reaching from the first line to the last in its runs.
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(std::count_if(scene->children.begin(), scene->children.end(),
                                [](const auto& child) { return child->kind == SceneLink; }),
                  1);
        for (const auto& [top, pieces] : lines) {
            SCOPED_TRACE(top);
            for (size_t i = 1; i < pieces.size(); ++i)
                EXPECT_NEAR(pieces[i].x, pieces[i - 1].x + pieces[i - 1].width, 0.01);
            float left = pieces.front().x;
            float right = pieces.back().x + pieces.back().width;
            const float edges[] = {left, (left + right) / 2, right};
            EXPECT_NEAR(edges[c.edge], c.at, 0.01);
        }

        // The block's padding places its children, whatever their alignment, and
        // adds its bottom; a missing picture takes no room.
        MDiv div;
        div.rect.width = 280;
        div.padding = Padding{30, 10, 15, 5};
        div.add(std::make_unique<MImage>(L"images/no-such-picture.png"));
        div.add(std::make_unique<MImage>(picture.c_str()))->align = c.align;
        div.add(std::make_unique<MButton>(picture.c_str(), L"page://Map"))->align = c.align;
        div.add(Paragraph(L"Первый абзац", body));
        scene = div.layout(*canvas);
        ASSERT_EQ(scene->children.size(), 3u);
        EXPECT_EQ(scene->children[0]->rect.x, c.pictureX);
        EXPECT_EQ(scene->children[1]->rect.x, c.pictureX);
        const FloatRect& p = scene->children[2]->rect;
        EXPECT_EQ(std::make_tuple(scene->children[0]->rect.y, p.x, p.width),
                  std::make_tuple(15.0f, 30.0f, 240.0f));
        EXPECT_EQ(scene->rect.height, p.y + p.height + 5);
    }
}

TEST_F(ModelTest, FloatedPictureTallerThanTheTextDoesNotAddHeight) {
    MParagraph paragraph;
    paragraph.rect.width = 260;
    paragraph.padding = Padding{0, 0, 4, 6};
    paragraph.floatImage = std::make_unique<MImage>(Picture(40, 90).c_str());
    paragraph.addText(L"Короткая подпись", &body, 0xFF000000u);
    auto scene = paragraph.layout(*canvas);
    ASSERT_EQ(scene->children.size(), 2u);
    EXPECT_EQ(scene->children[1]->rect.x, 40);  // beside the picture
    EXPECT_EQ(scene->rect.height, 4 + LineHeight(body) + 6);
}

TEST_F(ModelTest, ListBulletSitsOnTheFirstLinesBottom) {
    MList list;
    list.rect.width = 260;
    list.bulletFont = &body;
    list.addText(L"Крупный пункт", &large, 0xFF000000u);
    list.addText(L"Второй", &body, 0xFF000000u);
    auto scene = list.layout(*canvas);
    ASSERT_EQ(scene->children.size(), 4u);
    const SElement& bullet = *scene->children[0];
    const SElement& item = *scene->children[1];
    EXPECT_EQ(bullet.kind, SceneText);
    EXPECT_EQ(bullet.rect.y + bullet.rect.height, item.rect.y + LineHeight(large));
    EXPECT_EQ(item.rect.x, LineHeight(body));
    EXPECT_EQ(scene->children[3]->rect.y, item.rect.y + item.rect.height + 3);
}

TEST_F(ModelTest, TwoPartHeaderEndsItsRightPartAtTheInnerEdge) {
    BiHeader header;
    header.rect.width = 280;
    header.padding = Padding{15, 5, 2, 2};
    header.leftText = L"Новый офис на Ленина";
    header.leftLink = L"page://office-7";
    header.rightText = L"6 декабря";
    header.leftFont = header.linkHoverFont = &bold;
    header.rightFont = &body;
    auto scene = header.layout(*canvas);
    ASSERT_EQ(scene->children.size(), 2u);
    EXPECT_EQ(scene->children[0]->kind, SceneLink);
    const FloatRect& right = scene->children[1]->rect;
    EXPECT_NEAR(right.x + right.width, 15 + 260, 0.01);
    EXPECT_EQ(scene->rect.height, LineHeight(body) + 4);
}

}  // namespace
