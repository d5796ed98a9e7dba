// Line breaking, flow and link runs with the shipped fonts, and the link
// markup.
#include "LayoutFixture.h"

#include <algorithm>

namespace {

class FormatterTest : public LayoutTest {
protected:
    // Formats a text at the pen (x, y) into the scene and returns the formatter.
    std::unique_ptr<TextFormatter> Format(const MText& text, float width, float x = 0,
                                          float y = 0, float imageRight = 0,
                                          float imageBottom = 0) {
        std::unique_ptr<TextFormatter> formatter;
        if (text.kind == ModelLink)
            formatter = std::make_unique<LinkFormatter>(static_cast<const MLink&>(text),
                                                        std::nullopt, 5, x, width, y, imageRight,
                                                        imageBottom, *canvas);
        else
            formatter = std::make_unique<TextFormatter>(text, std::nullopt, 5, x, width, y,
                                                        imageRight, imageBottom, *canvas);
        formatter->format(scene);
        return formatter;
    }
    const std::wstring& TextOf(size_t i) {
        const SElement& run = *scene.children.at(i);
        return run.kind == SceneLink ? static_cast<const SLink&>(run).text
                                     : static_cast<const SText&>(run).text;
    }

    SContainer scene{FloatRect{0, 0, 280, 0}};
};

TEST_F(FormatterTest, TextThatFitsIsOneRunAndAdvancesThePen) {
    MText text(L"Курс ЦБ", &body);
    auto f = Format(text, 260);
    ASSERT_EQ(scene.children.size(), 1u);
    EXPECT_EQ(f->y, 0);
    EXPECT_NEAR(f->x, Width(L"Курс ЦБ", body), 0.5);
    EXPECT_EQ(scene.children[0]->rect.x, 5);
    EXPECT_EQ(scene.children[0]->rect.height, LineHeight(body));
}

TEST_F(FormatterTest, BreaksAtASpaceDroppingIt) {
    float room = Width(L"Новые офисы", body) + 10;
    MText text(L"Новые офисы открыты", &body);
    auto f = Format(text, room);
    ASSERT_EQ(scene.children.size(), 2u);
    EXPECT_EQ(TextOf(0), L"Новые офисы");
    EXPECT_EQ(TextOf(1), L"открыты");
    EXPECT_EQ(scene.children[1]->rect.y, LineHeight(body));
    EXPECT_EQ(scene.children[1]->rect.x, 5);
}

TEST_F(FormatterTest, EveryRunFitsItsLineAndIsAsWideAsItsTextWhateverTheFontSize) {
    // Breaks at spaces, and inside words too long for a line.
    const wchar_t* text = L"Orvella — интерактивный виджет для рабочего стола, который банк Orvella "
                          L"создал вместе с деловым журналом «Капитель». Задача виджета — "
                          L"сообщать читателям и клиентам новости в максимально удобной форме. "
                          L"Высокопроизводительнейшеепредложениебезпробелов кончается.";
    for (int size : {11, 12, 13, 15}) {
        for (int style : {0, int(FontBold)}) {
            scene.children.clear();
            FontSpec font{L"PT Sans", size, style};
            MText paragraph(text, &font);
            Format(paragraph, 260);
            EXPECT_GE(scene.children.size(), 3u) << size;
            // The run's own text, drawn unwrapped, must fit the line, and
            // the width taken from the line's measure must be the run's own.
            for (size_t i = 0; i < scene.children.size(); ++i) {
                const float own = Width(TextOf(i).c_str(), font);
                EXPECT_LE(own, 260) << size;
                EXPECT_FLOAT_EQ(scene.children[i]->rect.width, own) << size << " run " << i;
            }
        }
    }
}

TEST_F(FormatterTest, WordAfterAnEarlierElementMovesWhole) {
    float room = Width(L"Банк", body) + Width(L"Орвелла", body) / 2;
    MText first(L"Банк", &body);
    auto pen = Format(first, room);
    MText second(L"Орвелла", &body);
    auto f = Format(second, room, pen->x, pen->y);
    ASSERT_EQ(scene.children.size(), 2u);
    EXPECT_EQ(TextOf(1), L"Орвелла");
    EXPECT_EQ(scene.children[1]->rect.x, 5);
    EXPECT_EQ(scene.children[1]->rect.y, LineHeight(body));
}

TEST_F(FormatterTest, LongWordAtLineStartBreaksInsideAndNarrowLinesStillProgress) {
    MText text(L"Сверхдлинноеслово", &body);
    Format(text, Width(L"Сверхдлин", body) + 2);
    ASSERT_GE(scene.children.size(), 2u);
    std::wstring joined;
    for (size_t i = 0; i < scene.children.size(); ++i)
        joined += TextOf(i);
    EXPECT_EQ(joined, L"Сверхдлинноеслово");
    EXPECT_TRUE(TextOf(0).rfind(L"Сверхдл", 0) == 0);

    scene.children.clear();
    MText tight(L"abc", &body);
    Format(tight, 1);  // not one character fits: one per line, and it ends
    EXPECT_EQ(scene.children.size(), 3u);
}

TEST_F(FormatterTest, LineFeedAtTheEndLeavesThePenOnANewLine) {
    MText text(L"Адрес:\n", &body);
    auto f = Format(text, 260);
    EXPECT_EQ(f->x, 0);
    EXPECT_EQ(f->y, LineHeight(body));
}

TEST_F(FormatterTest, LinkOverThreeLinesIsOneLinkWhoseRunsHighlightTogether) {
    MLink link(L"Офисы Банка Рядом", L"page://offices", &body, 0xFFCC0000u, &bold, 0xFF000000u);
    // Room for the widest word, not for two.
    float widest = std::max({Width(L"Офисы", body), Width(L"Банка", body), Width(L"Рядом", body)});
    Format(link, widest + 4);
    ASSERT_EQ(scene.children.size(), 1u);
    auto& element = static_cast<SLink&>(*scene.children[0]);
    ASSERT_EQ(element.runs.size(), 2u);
    EXPECT_EQ(element.url, L"page://offices");
    for (const FloatRect& r : {element.rect, element.runs[0].rect, element.runs[1].rect})
        EXPECT_TRUE(element.hitTest(int(r.x + r.width / 2), int(r.y + r.height / 2)));
}

TEST_F(FormatterTest, TextFlowsBesideAFloatedPictureThenBelowIt) {
    float line = LineHeight(body);
    MText text(L"один два три четыре пять шесть семь восемь девять десять", &body);
    Format(text, 120, 60, 0, 60, line * 1.5f);
    ASSERT_GE(scene.children.size(), 4u);
    EXPECT_EQ(scene.children[0]->rect.x, 65);
    EXPECT_EQ(scene.children[1]->rect.x, 65);  // its top is above the picture's bottom
    EXPECT_EQ(scene.children[2]->rect.x, 5);
}

TEST_F(FormatterTest, OnlyTheFirstRunCarriesTheAnchorName) {
    MText text(L"раз два три", &body);
    TextFormatter formatter(text, std::wstring(L"top"), 5, 0, Width(L"раз", body) + 6, 0, 0, 0,
                            *canvas);
    formatter.format(scene);
    ASSERT_GE(scene.children.size(), 2u);
    EXPECT_EQ(scene.children[0]->name, std::optional<std::wstring>(L"top"));
    EXPECT_FALSE(scene.children[1]->name.has_value());
}

class MarkupTest : public LayoutTest {
protected:
    void Mark(const wchar_t* text) {
        addMarkup(text, paragraph, &body, &body, &bold, 0xFF000000u, 0xFFCC0000u, 0xFF000000u);
    }
    MParagraph paragraph;
};

TEST_F(MarkupTest, PlainLinkPlainKeepsTheSpaces) {
    Mark(L"Звоните <a href=\"http://orvella.example/\">нам</a> сегодня");
    ASSERT_EQ(paragraph.children.size(), 3u);
    EXPECT_EQ(static_cast<MText&>(*paragraph.children[0]).text, L"Звоните ");
    auto& link = static_cast<MLink&>(*paragraph.children[1]);
    EXPECT_EQ(link.kind, ModelLink);
    EXPECT_EQ(link.text, L"нам");
    EXPECT_EQ(link.url, L"http://orvella.example/");
    EXPECT_EQ(static_cast<MText&>(*paragraph.children[2]).text, L" сегодня");
}

TEST_F(MarkupTest, LabelsStartingWithAnAngleBracketAreLaidOutWhole) {
    Mark(L"<a href=\"http://orvella.example/\"><<Новости>></a> и <a href=\"x\"><b></a>");
    paragraph.rect.width = 260;
    auto scene = paragraph.layout(*canvas);
    std::vector<std::wstring> texts;
    float x = 0;
    for (const auto& run : scene->children) {
        texts.push_back(run->kind == SceneLink ? static_cast<const SLink&>(*run).text
                                               : static_cast<const SText&>(*run).text);
        EXPECT_EQ(run->rect.x, x) << texts.back();  // one line, one piece after another
        EXPECT_EQ(run->rect.y, 0) << texts.back();
        x = run->rect.x + run->rect.width;
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"<<Новости>>", L" и ", L"<b>"}));
    EXPECT_EQ(scene->children.front()->kind, SceneLink);
    EXPECT_EQ(scene->children.back()->kind, SceneLink);
}

TEST_F(MarkupTest, EmptyLabelsAndCutTagsLeaveOnlyPlainText) {
    Mark(L"<a href=\"x\"></a> текст");
    ASSERT_EQ(paragraph.children.size(), 1u);
    EXPECT_EQ(static_cast<MText&>(*paragraph.children[0]).text, L" текст");

    paragraph.children.clear();
    Mark(L"до <a href=\"x\">ссылка без конца");
    ASSERT_EQ(paragraph.children.size(), 1u);
    EXPECT_EQ(static_cast<MText&>(*paragraph.children[0]).text, L"до ");

    paragraph.children.clear();
    Mark(L"до <a href=\"x без конца тега");
    ASSERT_EQ(paragraph.children.size(), 1u);
    Mark(L"");
    EXPECT_EQ(paragraph.children.size(), 1u);
}

}  // namespace
