// Text formatting and link markup; see TextFormatter.h.
#include "layout/TextFormatter.h"

#include "gfx/Canvas.h"

#include <algorithm>
#include <cwchar>

using namespace gdip;

GpFont* ResolveFont(Canvas& canvas, const FontSpec* spec) {
    if (!spec)
        return nullptr;
    return canvas.GetFont(spec->family, spec->size, spec->style);
}

TextFormatter::TextFormatter(const MText& source, const std::optional<std::wstring>& name,
                             float left, float x, float width, float y, float imageRight,
                             float imageBottom, Canvas& canvas)
    : font(ResolveFont(canvas, source.font)),
      color(source.color),
      canvas(canvas),
      name(name),
      left(left),
      x(x),
      width(width),
      y(y),
      lineHeight(float(int(canvas.FontHeight(font)))),
      imageRight(imageRight),
      imageBottom(imageBottom),
      midLine((y >= imageBottom && x > 0) || (imageBottom > y && x > imageRight)),
      text_(source.text) {}

void TextFormatter::NewLine() {
    y += lineHeight;
    // Lines stay right of the floated image while their top is above its
    // bottom, the line whose top meets it included.
    x = y > imageBottom ? 0 : imageRight;
}

float TextFormatter::RunWidth(const wchar_t* text, size_t count, float available, int* fitted,
                              bool* oneLine) {
    // GDI+ takes a box width of 0 for no limit at all: with no room left,
    // nothing fits.
    if (available <= 0) {
        if (fitted)
            *fitted = 0;
        return 0;
    }
    int lines = 0;
    RectF box = canvas.MeasureRun(text, int(count), font, available, lineHeight, fitted, &lines);
    // A box one line tall can still take in a second line when the font's
    // line spacing rounds below its height (Wine's GDI+ does so for PT Sans
    // 12): the count must be that of the first line alone.
    if (lines > 1)
        box = canvas.MeasureRun(text, int(count), font, available, lineHeight / 2, fitted);
    if (oneLine)
        *oneLine = lines == 1;
    return box.Width - 2;
}

size_t TextFormatter::format(SContainer& out) {
    size_t first = out.children.size();
    const std::wstring& text = text_;
    size_t length = text.size();
    SLink* link = nullptr;
    size_t cursor = 0;
    while (cursor < length) {
        if (text[cursor] == L'\n') {
            NewLine();
            ++cursor;
            continue;
        }
        size_t segmentEnd = std::min(text.find(L'\n', cursor), length);
        size_t segment = segmentEnd - cursor;
        const wchar_t* start = text.c_str() + cursor;
        float available = width - x;
        int fitted = 0;
        bool oneLine = false;
        float runWidth = RunWidth(start, segment, available, &fitted, &oneLine);

        size_t runLength = segment;
        size_t next = segmentEnd + 1;  // after the line feed, if the segment ends at one
        bool nextLine = segmentEnd < length;
        if (size_t(fitted) < segment) {
            // Walk back from the first character that does not fit to a space;
            // the segment's first character is never a break.
            size_t brk = size_t(fitted);
            while (brk > 0 && start[brk] != L' ')
                --brk;
            if (brk > 0) {
                runLength = brk;
                next = cursor + brk + 1;
            } else if (midLine) {
                NewLine();
                midLine = false;
                continue;
            } else {
                // Break inside the word; at least one character, so that a line
                // too narrow for any still moves on.
                runLength = std::max<size_t>(size_t(fitted), 1);
                next = cursor + runLength;
            }
            nextLine = true;
            // Broken at the space where GDI+ broke its first line, the run
            // is that line, whose width GDI+ gave without the space: the
            // same figure a measure of the run alone gives, at half the cost.
            const bool firstLine = oneLine && start[runLength] == L' ' &&
                                   (size_t(fitted) == runLength || size_t(fitted) == runLength + 1);
            if (!firstLine)
                runWidth = RunWidth(start, runLength, std::max(available, 1.0f), nullptr);
        }

        FloatRect rect{left + x, y, runWidth, lineHeight};
        if (link) {
            link->addRun(start, runLength, rect);
        } else {
            std::unique_ptr<SElement> run = createRun(start, runLength, rect);
            run->name = std::move(name);
            name.reset();
            if (run->kind == SceneLink)
                link = static_cast<SLink*>(run.get());
            out.add(std::move(run));
        }

        if (nextLine) {
            NewLine();
            cursor = next;
        } else {
            x += runWidth;
            cursor = length;
        }
    }
    return first;
}

std::unique_ptr<SElement> TextFormatter::createRun(const wchar_t* text, size_t count,
                                                   const FloatRect& rect) {
    return std::make_unique<SText>(rect, std::wstring(text, count), font, color);
}

LinkFormatter::LinkFormatter(const MLink& source, const std::optional<std::wstring>& name,
                             float left, float x, float width, float y, float imageRight,
                             float imageBottom, Canvas& canvas)
    : TextFormatter(source, name, left, x, width, y, imageRight, imageBottom, canvas),
      url(source.url),
      hoverFont(ResolveFont(canvas, source.hoverFont)),
      hoverColor(source.hoverColor) {}

std::unique_ptr<SElement> LinkFormatter::createRun(const wchar_t* text, size_t count,
                                                   const FloatRect& rect) {
    auto link = std::make_unique<SLink>(rect, std::wstring(text, count), url);
    link->font = font;
    link->hoverFont = hoverFont;
    link->color = color;
    link->hoverColor = hoverColor;
    return link;
}

void addMarkup(const wchar_t* text, MContainer& paragraph, const FontSpec* textFont,
               const FontSpec* linkFont, const FontSpec* linkHoverFont, ARGB textColor,
               ARGB linkColor, ARGB linkHoverColor) {
    static const std::wstring kOpening = L"<a href=\"";
    static const std::wstring kTagEnd = L"\">";
    static const std::wstring kClosing = L"</a>";
    if (!text)
        return;
    std::wstring source(text);
    size_t cursor = 0;
    while (cursor < source.size()) {
        size_t opening = source.find(kOpening, cursor);
        if (opening == std::wstring::npos) {
            paragraph.addText(source.substr(cursor).c_str(), textFont, textColor);
            return;
        }
        if (opening > cursor)
            paragraph.addText(source.substr(cursor, opening - cursor).c_str(), textFont,
                              textColor);
        size_t urlStart = opening + kOpening.size();
        size_t tagEnd = source.find(kTagEnd, urlStart);
        if (tagEnd == std::wstring::npos)
            return;
        size_t label = tagEnd + kTagEnd.size();
        size_t closing = source.find(kClosing, label);
        if (closing == std::wstring::npos)
            return;
        // A label may begin with "<" like any text; only one that ends where
        // it begins is empty.
        if (closing > label)
            paragraph.addLink(source.substr(label, closing - label).c_str(),
                              source.substr(urlStart, tagEnd - urlStart).c_str(), linkFont,
                              linkColor, linkHoverFont, linkHoverColor);
        cursor = closing + kClosing.size();
    }
}
