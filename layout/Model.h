// The layout model: what page builders describe a page with. Texts and links
// flow in paragraphs; images and image buttons stand in blocks, rows and
// lists; a two-part header and a map with markers complete the set. The
// model knows only what the builder knows (texts, fonts, colours, paddings,
// widths, image paths, links); layout, called once per page on the window
// thread, measures and places everything and returns the scene. Layout
// consumes the model (lists re-wrap their children, rows cache images in
// theirs), so a model is laid out once and then destroyed.
//
// Coordinates are floating-point pixels; a container's scene is placed by
// its own rect inside its parent's scene.
#pragma once

#include "layout/Scene.h"
#include "gfx/Palette.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Canvas;

// A font as builders describe it; resolved through the Canvas's font cache.
struct FontSpec {
    const wchar_t* family = kRegularFamily;  // borrowed
    int size = 13;                       // pixels
    int style = FontRegular;              // FontStyle bits
};

enum ModelKind : uint32_t {
    ModelText = 0,
    ModelLink = 1,
    ModelImage = 2,
    ModelButton = 3,
    ModelParagraph = 4,
    ModelDiv = 5,
    ModelColumns = 6,
    ModelList = 7,
    ModelBiHeader = 8,
    ModelMap = 9,
};

struct Padding {
    float left = 0;
    float right = 0;
    float top = 0;
    float bottom = 0;
};

// Where images and buttons stand in a block. The value crosses from page
// builders as it is: any value but these two aligns right.
enum Alignment : int {
    AlignLeft = -1,
    AlignCentre = 0,
    AlignRight = 1,
};

class MElement {
public:
    explicit MElement(uint32_t kind) : kind(kind) {}
    virtual ~MElement() = default;
    MElement(const MElement&) = delete;
    MElement& operator=(const MElement&) = delete;

    virtual bool isContainer() const { return false; }

    int align = AlignLeft;  // an Alignment
    Padding padding;
    std::optional<std::wstring> name;  // anchor name, given to the first scene element
    uint32_t kind;
};

class MText : public MElement {
public:
    MText(std::wstring text, const FontSpec* font, gdip::ARGB color = 0xFF000000u)
        : MText(ModelText, std::move(text), font, color) {}

    std::wstring text;
    const FontSpec* font;  // borrowed from the builder
    gdip::ARGB color;

protected:
    MText(uint32_t kind, std::wstring text, const FontSpec* font, gdip::ARGB color)
        : MElement(kind), text(std::move(text)), font(font), color(color) {}
};

class MLink : public MText {
public:
    MLink(std::wstring text, std::wstring url, const FontSpec* font, gdip::ARGB color,
          const FontSpec* hoverFont, gdip::ARGB hoverColor)
        : MText(ModelLink, std::move(text), font, color),
          url(std::move(url)),
          hoverFont(hoverFont),
          hoverColor(hoverColor) {}

    std::wstring url;
    const FontSpec* hoverFont;  // borrowed
    gdip::ARGB hoverColor;
};

class MImage : public MElement {
public:
    static constexpr size_t kPathUnits = 260;

    // The path is relative to the library's folder unless absolute; a longer
    // one is cut to the capacity.
    explicit MImage(const wchar_t* path);

    std::wstring path;
    ImageUse cached;  // taken while a row lays out
};

class MButton : public MElement {
public:
    MButton(const wchar_t* imagePath, const wchar_t* link, const wchar_t* hint = nullptr);

    std::optional<std::wstring> imagePath;
    std::optional<std::wstring> hoverImagePath;
    std::optional<std::wstring> link;  // handed to the viewer on a click
    std::optional<std::wstring> hint;  // the bubble shown while the pointer rests
    ImageUse cached;                   // taken while a row lays out
    FloatRect normalRect;              // placed by a map only
    FloatRect hoverRect;
};

class MContainer : public MElement {
public:
    bool isContainer() const override { return true; }
    // The scene of this container; the caller owns it.
    virtual std::unique_ptr<SContainer> layout(Canvas& canvas) = 0;

    MElement* add(std::unique_ptr<MElement> element);
    MText* addText(const wchar_t* text, const FontSpec* font, gdip::ARGB color);
    MLink* addLink(const wchar_t* text, const wchar_t* url, const FontSpec* font,
                   gdip::ARGB color, const FontSpec* hoverFont, gdip::ARGB hoverColor);

    FloatRect rect;  // width 0: nothing to lay out
    bool hasBackground = false;
    uint32_t cornerRadius = 0;
    gdip::ARGB backgroundColor = 0xFF000000u;
    std::vector<std::unique_ptr<MElement>> children;

protected:
    using MElement::MElement;

    // The scene container with this model's rect and, optionally, its name
    // and background; every layout starts so.
    std::unique_ptr<SContainer> StartScene(bool withNameAndBackground) const;
    // Sets the background element, if any, to the final size.
    void FinishScene(SContainer& scene) const;
    float InnerWidth() const { return rect.width - padding.left - padding.right; }
};

class MParagraph : public MContainer {
public:
    MParagraph() : MContainer(ModelParagraph) {}
    std::unique_ptr<SContainer> layout(Canvas& canvas) override;

    std::unique_ptr<MImage> floatImage;  // at the paragraph's left, text flows around it
    int textAlign = -1;                  // -1 left, 0 centre, else right
};

class MDiv : public MContainer {
public:
    MDiv() : MContainer(ModelDiv) {}
    std::unique_ptr<SContainer> layout(Canvas& canvas) override;

    // A block laid out a child at a time, so that a long page can be laid
    // out in slices between messages: BeginLayout, LayoutNext until it says
    // no child is left, FinishLayout. layout() takes the same steps in one
    // go, so both give the same scene.
    struct Progress {
        std::unique_ptr<SContainer> scene;
        size_t next = 0;  // the child laid out next
        float y = 0;      // where it stands
        bool empty = false;
    };
    Progress BeginLayout() const;
    // Lays out the next child; false when none was left.
    bool LayoutNext(Progress& progress, Canvas& canvas);
    std::unique_ptr<SContainer> FinishLayout(Progress& progress) const;
};

class MColumns : public MContainer {
public:
    MColumns() : MContainer(ModelColumns) {}
    std::unique_ptr<SContainer> layout(Canvas& canvas) override;
};

class MList : public MContainer {
public:
    MList() : MContainer(ModelList) {}
    std::unique_ptr<SContainer> layout(Canvas& canvas) override;

    const FontSpec* bulletFont = nullptr;  // borrowed
};

// One line: a text or link at the left and a text ending at the right edge.
class BiHeader : public MContainer {
public:
    BiHeader() : MContainer(ModelBiHeader) {}
    std::unique_ptr<SContainer> layout(Canvas& canvas) override;

    const FontSpec* leftFont = nullptr;
    const FontSpec* linkHoverFont = nullptr;
    const FontSpec* rightFont = nullptr;
    gdip::ARGB leftColor = 0xFF000000u;
    gdip::ARGB linkHoverColor = 0xFF000000u;
    gdip::ARGB rightColor = 0xFF000000u;
    std::optional<std::wstring> leftText;
    std::optional<std::wstring> leftLink;  // makes the left part a link
    std::optional<std::wstring> rightText;
    std::optional<std::wstring> imagePath;
    int rightWidth = 90;
};

// A map picture in a fixed box with marker buttons placed by their own
// rectangles.
class MMap : public MContainer {
public:
    MMap() : MContainer(ModelMap) {}
    std::unique_ptr<SContainer> layout(Canvas& canvas) override;

    std::unique_ptr<MImage> mapImage;
};

// Appends the pictures the model names (images, buttons' pictures, floated
// images, headers' icons, maps) in reading order, so that they can be
// decoded before the model is laid out.
void CollectPictures(const MContainer& model, std::vector<std::wstring>& paths);
