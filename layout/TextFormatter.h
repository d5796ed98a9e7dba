// Text formatting: turns one text or link of a paragraph into positioned
// runs of the scene. The text is measured with its font, broken into lines
// that fit the paragraph's width and flow around an image floated at the
// paragraph's left, and each line piece becomes one scene element (a link's
// further lines become further runs of one SLink).
//
// A formatter lives for one element. The paragraph builds one per child,
// formats it into its scene container, reads back the pen (x, y,
// lineHeight) and hands it to the next child's formatter, so consecutive
// texts and links flow on as one line. Positions are floating-point pixels
// in the container's coordinates; x is relative to left. Window thread.
//
// Also the link markup of page builders: <a href="address">label</a>.
#pragma once

#include "layout/Model.h"

class TextFormatter {
public:
    TextFormatter(const MText& source, const std::optional<std::wstring>& name, float left,
                  float x, float width, float y, float imageRight, float imageBottom,
                  Canvas& canvas);
    virtual ~TextFormatter() = default;
    TextFormatter(const TextFormatter&) = delete;
    TextFormatter& operator=(const TextFormatter&) = delete;

    // Flows the whole text into the container; returns the index of the first
    // element it added, or the container's size when it added none.
    size_t format(SContainer& out);

    // The scene element for count characters of text at rect.
    virtual std::unique_ptr<SElement> createRun(const wchar_t* text, size_t count,
                                                const FloatRect& rect);

    gdip::GpFont* font;
    gdip::ARGB color;
    Canvas& canvas;
    std::optional<std::wstring> name;  // given to the first run only
    float left;
    float x;  // pen, relative to left
    float width;
    float y;  // top of the current line
    float lineHeight;
    float imageRight;
    float imageBottom;
    bool midLine;  // the line already holds text of an earlier element

private:
    void NewLine();
    // Width of a run as the panel draws it: GDI+ pads its box by a pixel on
    // each side. With fitted, that of the first line of the run laid out in
    // the available width; oneLine then tells whether GDI+ saw one line.
    float RunWidth(const wchar_t* text, size_t count, float available, int* fitted,
                   bool* oneLine = nullptr);

    const std::wstring& text_;  // the model's, borrowed
};

class LinkFormatter : public TextFormatter {
public:
    LinkFormatter(const MLink& source, const std::optional<std::wstring>& name, float left,
                  float x, float width, float y, float imageRight, float imageBottom,
                  Canvas& canvas);

    std::unique_ptr<SElement> createRun(const wchar_t* text, size_t count,
                                        const FloatRect& rect) override;

    std::wstring url;
    gdip::GpFont* hoverFont;
    gdip::ARGB hoverColor;
};

// Resolves a font description through the canvas's font cache.
gdip::GpFont* ResolveFont(Canvas& canvas, const FontSpec* spec);

// Splits a text with link tags into texts and links of the paragraph. Only
// <a href=" ... "> ... </a> is markup, exactly so; a tag cut short ends the
// text there, and a link with an empty label is left out.
void addMarkup(const wchar_t* text, MContainer& paragraph, const FontSpec* textFont,
               const FontSpec* linkFont, const FontSpec* linkHoverFont, gdip::ARGB textColor,
               gdip::ARGB linkColor, gdip::ARGB linkHoverColor);
