// Line breaking and flow with the shipped fonts, and the link markup.
#include "LayoutFixture.h"

#include <tuple>

namespace {

class FormatterTest : public LayoutTest {
protected:
    // Formats a text at the pen (x, y) into the scene and returns the formatter.
    std::unique_ptr<TextFormatter> Format(const MText& text, float width, float x = 0,
                                          float y = 0, float imageRight = 0,
                                          float imageBottom = 0,
                                          std::optional<std::wstring> anchor = std::nullopt) {
        auto formatter = std::make_unique<TextFormatter>(text, anchor, 5, x, width, y, imageRight,
                                                         imageBottom, *canvas);
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

TEST_F(FormatterTest, RunsStartEachLineAtTheMarginAndThePenEndsAfterTheLast) {
    auto w = [&](const wchar_t* text) { return Width(text, body); };
    const float line = LineHeight(body);
    // Texts formatted one after another in the same room, and their runs.
    const struct {
        std::vector<const wchar_t*> texts;
        float room;
        std::vector<std::wstring> runs;
    } cases[] = {
        {{L"Курс ЦБ"}, 260, {L"Курс ЦБ"}},
        {{L"Новые офисы открыты"}, w(L"Новые офисы") + 10, {L"Новые офисы", L"открыты"}},
        {{L"Банк", L"Орвелла"}, w(L"Банк") + w(L"Орвелла") / 2, {L"Банк", L"Орвелла"}},  // whole
        {{L"Адрес:\n"}, 260, {L"Адрес:"}},  // the pen on a new line
        // A word too long for the line breaks inside.
        {{L"Сверхдлинноеслово"}, w(L"Сверхдлин") + 2, {L"Сверхдлин", L"ноеслово"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.texts.back());
        scene.children.clear();
        float x = 0, y = 0;
        for (const wchar_t* text : c.texts) {
            MText piece(text, &body);
            auto f = Format(piece, c.room, x, y);
            x = f->x, y = f->y;
        }
        ASSERT_EQ(scene.children.size(), c.runs.size());
        for (size_t i = 0; i < c.runs.size(); ++i) {
            EXPECT_EQ(TextOf(i), c.runs[i]);
            const FloatRect& r = scene.children[i]->rect;
            EXPECT_EQ(std::make_tuple(r.x, r.y, r.height), std::make_tuple(5.0f, line * i, line));
        }
        const bool fed = std::wstring(c.texts.back()).back() == L'\n';
        EXPECT_NEAR(x, fed ? 0 : w(c.runs.back().c_str()), 0.5);
        EXPECT_EQ(y, line * (c.runs.size() - (fed ? 0 : 1)));
    }

    scene.children.clear();
    MText tight(L"abc", &body);
    Format(tight, 1);  // not one character fits: one per line, and it ends
    EXPECT_EQ(scene.children.size(), 3u);
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

TEST_F(FormatterTest, TextFlowsBesideAFloatedPictureThenBelowItAndTheFirstRunIsTheAnchor) {
    float line = LineHeight(body);
    MText text(L"один два три четыре пять шесть семь восемь девять десять", &body);
    Format(text, 120, 60, 0, 60, line * 1.5f, L"top");
    ASSERT_GE(scene.children.size(), 4u);
    // The second line's top is above the picture's bottom, the third's not.
    EXPECT_EQ(std::make_tuple(scene.children[0]->rect.x, scene.children[1]->rect.x,
                              scene.children[2]->rect.x),
              std::make_tuple(65.0f, 65.0f, 5.0f));
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

TEST_F(MarkupTest, LinksBecomeLinkPiecesLaidOutWholeAndEmptyOrCutOnesLeaveOnlyPlainText) {
    const struct {
        const wchar_t* markup;
        std::vector<std::wstring> pieces;  // a link's as "label -> url"
    } cases[] = {
        {L"Звоните <a href=\"http://orvella.example/\">нам</a> сегодня",
         {L"Звоните ", L"нам -> http://orvella.example/", L" сегодня"}},  // spaces kept
        {L"<a href=\"x\"></a> текст", {L" текст"}},
        {L"до <a href=\"x\">ссылка без конца", {L"до "}},
        {L"до <a href=\"x без конца тега", {L"до "}},
        {L"", {}},
        // Labels starting with an angle bracket.
        {L"<a href=\"http://orvella.example/\"><<Новости>></a> и <a href=\"x\"><b></a>",
         {L"<<Новости>> -> http://orvella.example/", L" и ", L"<b> -> x"}},
    };
    paragraph.rect.width = 260;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.markup);
        paragraph.children.clear();
        Mark(c.markup);
        std::vector<std::wstring> pieces, runs;
        for (const auto& child : paragraph.children) {
            const auto& text = static_cast<const MText&>(*child);
            pieces.push_back(child->kind == ModelLink
                                 ? text.text + L" -> " + static_cast<const MLink&>(text).url
                                 : text.text);
        }
        EXPECT_EQ(pieces, c.pieces);
        // Laid out whole on one line, one piece after another.
        auto scene = paragraph.layout(*canvas);
        float x = 0;
        for (const auto& run : scene->children) {
            const auto* link =
                run->kind == SceneLink ? static_cast<const SLink*>(run.get()) : nullptr;
            runs.push_back(link ? link->text + L" -> " + link->url
                                : static_cast<const SText&>(*run).text);
            EXPECT_EQ(std::make_pair(run->rect.x, run->rect.y), std::make_pair(x, 0.0f))
                << runs.back();
            x = run->rect.x + run->rect.width;
        }
        EXPECT_EQ(runs, c.pieces);
    }
}

}  // namespace
