// The scene: what a laid-out page consists of. A tree of positioned drawing
// elements, made once by the layout and the text formatters, then drawn on
// every paint and searched on every mouse move by the page viewer.
//
// Elements are passive: they draw themselves, answer whether a point lies in
// them and carry the data (link address, hint, hover and pressed flags) that
// the viewer acts on. Every rectangle is in floating-point pixels relative to
// the parent container; hit tests take whole pixels in that same space.
// Fonts are borrowed from the Canvas's font cache; every image an element
// holds is one use counted by the Canvas's image cache and released by the
// element, so the Canvas must outlive every scene. Window thread only.
#pragma once

#include "gfx/Canvas.h"
#include "ui/Window.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Canvas;

enum SceneKind : uint32_t {
    SceneText = 1,
    SceneLink = 2,
    SceneImage = 3,
    SceneButton = 4,
    SceneContainer = 5,
    SceneBackground = 6,
};

struct FloatRect {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

class SElement {
public:
    SElement(uint32_t kind, const FloatRect& rect) : rect(rect), kind(kind) {}
    virtual ~SElement() = default;
    SElement(const SElement&) = delete;
    SElement& operator=(const SElement&) = delete;

    virtual void draw(Canvas& canvas) = 0;
    // Half-open: the right and bottom edges lie outside.
    virtual bool hitTest(int x, int y) const;
    // Everything the element may draw on, in its parent's space.
    virtual FloatRect bounds() const { return rect; }

    FloatRect rect;
    uint32_t kind;
    std::optional<std::wstring> name;  // anchor name
};

class SText : public SElement {
public:
    SText(const FloatRect& rect, std::wstring text, gdip::GpFont* font,
          gdip::ARGB color = 0xFF000000u)
        : SElement(SceneText, rect), text(std::move(text)), font(font), color(color) {}

    void draw(Canvas& canvas) override;

    std::wstring text;
    gdip::GpFont* font;  // borrowed
    gdip::ARGB color;
};

// A link, possibly wrapped over several lines: rect and text are its first
// run, runs the lines that follow. All runs hover and press together.
class SLink : public SElement {
public:
    struct Run {
        std::wstring text;
        FloatRect rect;
    };

    SLink(const FloatRect& rect, std::wstring text, std::wstring url)
        : SElement(SceneLink, rect), text(std::move(text)), url(std::move(url)) {}

    void addRun(const wchar_t* text, size_t count, const FloatRect& rect);
    void draw(Canvas& canvas) override;
    // Strictly inside the first run, or inside or on the edge of a further one.
    bool hitTest(int x, int y) const override;
    FloatRect bounds() const override;

    std::vector<Run> runs;
    std::wstring text;
    std::wstring url;
    bool hover = false;
    bool pressed = false;
    gdip::GpFont* font = nullptr;       // borrowed
    gdip::GpFont* hoverFont = nullptr;  // borrowed
    gdip::ARGB color = 0xFF000000u;
    gdip::ARGB hoverColor = 0xFF000000u;
};

class SImage : public SElement {
public:
    SImage(const FloatRect& rect, ImageUse image)
        : SElement(SceneImage, rect), image(std::move(image)) {}

    void draw(Canvas& canvas) override;

    ImageUse image;
};

class SButton : public SElement {
public:
    SButton(const FloatRect& normalRect, const FloatRect& hoverRect, ImageUse normalImage,
            ImageUse hoverImage)
        : SElement(SceneButton, normalRect),
          normalRect(normalRect),
          hoverRect(hoverRect),
          normalImage(std::move(normalImage)),
          hoverImage(std::move(hoverImage)) {}

    void draw(Canvas& canvas) override;
    FloatRect bounds() const override;

    FloatRect normalRect;
    FloatRect hoverRect;
    ImageUse normalImage;  // may be null
    ImageUse hoverImage;   // may be null
    bool hover = false;
    std::optional<std::wstring> link;
    std::optional<std::wstring> hint;
};

class SContainer : public SElement {
public:
    explicit SContainer(const FloatRect& rect) : SElement(SceneContainer, rect) {}

    SElement* add(std::unique_ptr<SElement> element);
    // Draws the children that reach into the clip: a long page paints only
    // what the view shows.
    void draw(Canvas& canvas) override;

    std::vector<std::unique_ptr<SElement>> children;  // in drawing order
};

class SBackground : public SElement {
public:
    SBackground(const FloatRect& rect, uint32_t cornerRadius, gdip::ARGB color)
        : SElement(SceneBackground, rect), cornerRadius(cornerRadius), color(color) {}

    void draw(Canvas& canvas) override;

    uint32_t cornerRadius;
    gdip::ARGB color;
};

// The element of the wanted kind under (x, y), given in the space of the
// container's own rect; containers are searched before they are tested.
// outRect, when given, receives the hit's rectangle in that same space,
// truncated to whole pixels.
SElement* findAt(const SContainer& container, int x, int y, uint32_t kind,
                 IntRect* outRect = nullptr);

// Whether the element lies in the container; x and y then receive the
// offset of the element's parent space in the space of the container's own
// rect (which, as for findAt, is counted in).
bool findOffset(const SContainer& container, const SElement* element, float& x, float& y);

// The first element named so, depth first; outY receives its y below the
// container (the container's own y not included).
SElement* findAnchor(const SContainer& container, const wchar_t* name, float* outY = nullptr);

// The first child, descending through first children that are containers.
SElement* firstLeaf(const SContainer& container);
