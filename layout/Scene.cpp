// Scene elements and queries; see Scene.h.
#include "layout/Scene.h"

#include "gfx/Canvas.h"

#include <algorithm>

using namespace gdip;

namespace {

// Puts the world transform back as it was when the scope began.
class SavedTransform {
public:
    explicit SavedTransform(Canvas& canvas) : graphics_(canvas.graphics) {
        if (graphics_ && GdipCreateMatrix(&matrix_) == Ok)
            graphics_.Check(GdipGetWorldTransform(graphics_.get(), matrix_));
    }
    ~SavedTransform() {
        if (!matrix_)
            return;
        if (graphics_)
            graphics_.Check(GdipSetWorldTransform(graphics_.get(), matrix_));
        GdipDeleteMatrix(matrix_);
    }
    SavedTransform(const SavedTransform&) = delete;
    SavedTransform& operator=(const SavedTransform&) = delete;

private:
    GraphicsObject& graphics_;
    GpMatrix* matrix_ = nullptr;
};

FloatRect Union(const FloatRect& a, const FloatRect& b) {
    float left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    float right = std::max(a.x + a.width, b.x + b.width);
    float bottom = std::max(a.y + a.height, b.y + b.height);
    return FloatRect{left, top, right - left, bottom - top};
}

// Glyphs overhang their measured box by a pixel or two (GDI+ trims its
// padding from measurements, not from drawing): keep a margin when culling.
constexpr float kOverhang = 4;

bool Meets(const FloatRect& r, const RectF& clip) {
    return r.x - kOverhang < clip.X + clip.Width && r.x + r.width + kOverhang > clip.X &&
           r.y - kOverhang < clip.Y + clip.Height && r.y + r.height + kOverhang > clip.Y;
}

}  // namespace

bool SElement::hitTest(int x, int y) const {
    return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}

void SText::draw(Canvas& canvas) {
    canvas.DrawText(text.c_str(), font, color, rect.x, rect.y);
}

void SLink::addRun(const wchar_t* runText, size_t count, const FloatRect& runRect) {
    runs.push_back(Run{std::wstring(runText, count), runRect});
}

void SLink::draw(Canvas& canvas) {
    ARGB useColor = hover ? hoverColor : color;
    // A pressed link keeps its normal font in the hover colour.
    GpFont* useFont = hover && !pressed ? hoverFont : font;
    // A link may wrap over many lines: only those in the clip are drawn.
    RectF clip(0, 0, 0, 0);
    bool clipped = canvas.graphics && GdipGetClipBounds(canvas.graphics.get(), &clip) == Ok;
    if (!clipped || Meets(rect, clip))
        canvas.DrawText(text.c_str(), useFont, useColor, rect.x, rect.y);
    for (const Run& run : runs) {
        if (!clipped || Meets(run.rect, clip))
            canvas.DrawText(run.text.c_str(), useFont, useColor, run.rect.x, run.rect.y);
    }
}

bool SLink::hitTest(int x, int y) const {
    if (x > rect.x && x < rect.x + rect.width && y > rect.y && y < rect.y + rect.height)
        return true;
    for (const Run& run : runs) {
        const FloatRect& r = run.rect;
        if (x >= r.x && x <= r.x + r.width && y >= r.y && y <= r.y + r.height)
            return true;
    }
    return false;
}

FloatRect SLink::bounds() const {
    FloatRect all = rect;
    for (const Run& run : runs)
        all = Union(all, run.rect);
    return all;
}

void SImage::draw(Canvas& target) {
    target.DrawImage(image.get(), rect.x, rect.y);
}

void SButton::draw(Canvas& target) {
    if (hover && hoverImage)
        target.DrawImage(hoverImage.get(), hoverRect.x, hoverRect.y, hoverRect.width,
                         hoverRect.height);
    else if (normalImage)
        target.DrawImage(normalImage.get(), normalRect.x, normalRect.y, normalRect.width,
                         normalRect.height);
}

FloatRect SButton::bounds() const {
    return Union(normalRect, hoverRect);
}

SElement* SContainer::add(std::unique_ptr<SElement> element) {
    children.push_back(std::move(element));
    return children.back().get();
}

void SContainer::draw(Canvas& canvas) {
    SavedTransform saved(canvas);
    if (canvas.graphics)
        canvas.graphics.Check(
            GdipTranslateWorldTransform(canvas.graphics.get(), rect.x, rect.y, MatrixOrderPrepend));
    RectF clip(0, 0, 0, 0);
    bool clipped = canvas.graphics &&
                   GdipGetClipBounds(canvas.graphics.get(), &clip) == Ok;
    for (auto& child : children) {
        if (!clipped || Meets(child->bounds(), clip))
            child->draw(canvas);
    }
}

void SBackground::draw(Canvas& canvas) {
    if (cornerRadius == 0)
        canvas.FillRect(rect.x, rect.y, rect.width, rect.height, color);
    else
        canvas.FillRoundRect(rect.x, rect.y, rect.width, rect.height, float(cornerRadius), color);
}

SElement* findAt(const SContainer& container, int x, int y, uint32_t kind, IntRect* outRect) {
    int offsetX = int(container.rect.x);
    int offsetY = int(container.rect.y);
    int localX = x - offsetX;
    int localY = y - offsetY;
    for (const auto& child : container.children) {
        if (child->kind == SceneContainer) {
            SElement* hit = findAt(static_cast<const SContainer&>(*child), localX, localY, kind,
                                   outRect);
            if (hit) {
                if (outRect) {
                    outRect->x += offsetX;
                    outRect->y += offsetY;
                }
                return hit;
            }
        }
        if (child->kind != kind)
            continue;
        if (outRect) {
            const FloatRect& r = child->rect;
            *outRect = IntRect{int(r.x) + offsetX, int(r.y) + offsetY, int(r.width),
                               int(r.height)};
        }
        if (child->hitTest(localX, localY))
            return child.get();
    }
    return nullptr;
}

bool findOffset(const SContainer& container, const SElement* element, float& x, float& y) {
    for (const auto& child : container.children) {
        bool found = child.get() == element;
        if (!found && child->kind == SceneContainer)
            found = findOffset(static_cast<const SContainer&>(*child), element, x, y);
        if (found) {
            if (child.get() == element) {
                x = 0;
                y = 0;
            }
            x += container.rect.x;
            y += container.rect.y;
            return true;
        }
    }
    return false;
}

SElement* findAnchor(const SContainer& container, const wchar_t* name, float* outY) {
    if (!name)
        return nullptr;
    for (const auto& child : container.children) {
        if (child->name && *child->name == name) {
            if (outY)
                *outY = child->rect.y;
            return child.get();
        }
        if (child->kind != SceneContainer)
            continue;
        float innerY = 0;
        SElement* found = findAnchor(static_cast<const SContainer&>(*child), name, &innerY);
        if (found) {
            if (outY)
                *outY = child->rect.y + innerY;
            return found;
        }
    }
    return nullptr;
}

SElement* firstLeaf(const SContainer& container) {
    const SContainer* current = &container;
    while (true) {
        if (current->children.empty())
            return nullptr;
        SElement* first = current->children.front().get();
        if (first->kind != SceneContainer)
            return first;
        current = static_cast<const SContainer*>(first);
    }
}
