// Layout of the model's containers into scenes; see Model.h.
#include "layout/Model.h"

#include "layout/TextFormatter.h"
#include "gfx/Canvas.h"

#include <algorithm>

using namespace gdip;

namespace {

struct ImageSize {
    float width = 0;
    float height = 0;
};

ImageSize SizeOf(GpImage* image) {
    ImageSize size;
    PictureSize(image, size.width, size.height);
    return size;
}

ImageUse Acquire(Canvas& canvas, const std::optional<std::wstring>& path) {
    return path ? canvas.AcquireImage(path->c_str()) : ImageUse();
}

float Truncated(float value) {
    return float(int(value));
}

// Where an image or button of outer width o stands in a block of inner width W.
float AlignedX(int align, float childLeft, float paddingLeft, float innerWidth, float outer) {
    if (align == AlignLeft)
        return childLeft + paddingLeft;
    if (align == AlignCentre)
        return (innerWidth - outer) / 2 + paddingLeft;
    return innerWidth + paddingLeft - outer;
}

std::unique_ptr<SButton> MakeButton(const MButton& model, ImageUse normal, ImageUse hover,
                                    float x, float y) {
    ImageSize normalSize = SizeOf(normal.get());
    ImageSize hoverSize = SizeOf(hover.get());
    auto button = std::make_unique<SButton>(FloatRect{x, y, normalSize.width, normalSize.height},
                                            FloatRect{x, y, hoverSize.width, hoverSize.height},
                                            std::move(normal), std::move(hover));
    button->link = model.link;
    button->hint = model.hint;
    button->name = model.name;
    return button;
}

// Moves the lines of a paragraph's text to the centre (align 0) or the right
// (any other) of the inner width from left. A line is the pieces of equal y
// in the order they were laid out: the runs, and a link's further lines right
// after its first, so that a wrapped link's lines move with those they share.
// The children before `first` (the background) are not text and stay.
void AlignLines(SContainer& scene, size_t first, float left, float inner, int align) {
    std::vector<FloatRect*> pieces;
    for (size_t i = first; i < scene.children.size(); ++i) {
        SElement& child = *scene.children[i];
        pieces.push_back(&child.rect);
        if (child.kind == SceneLink)
            for (SLink::Run& run : static_cast<SLink&>(child).runs)
                pieces.push_back(&run.rect);
    }
    size_t begin = 0;
    while (begin < pieces.size()) {
        size_t end = begin + 1;
        while (end < pieces.size() && pieces[end]->y == pieces[begin]->y)
            ++end;
        float lineLeft = pieces[begin]->x;
        float lineRight = pieces[end - 1]->x + pieces[end - 1]->width;
        float space = left + inner - lineRight;
        float shift = align == 0 ? (space - (lineLeft - left)) / 2 : space;
        for (size_t i = begin; i < end; ++i)
            pieces[i]->x += shift;
        begin = end;
    }
}

// Formats one text or link child and reports where the pen stopped.
struct PenState {
    float x;
    float y;
    float lineHeight;
};

PenState FormatChild(const MElement& child, SContainer& scene, float left, PenState pen, float width,
                float imageRight, float imageBottom, Canvas& canvas) {
    std::unique_ptr<TextFormatter> formatter;
    if (child.kind == ModelText)
        formatter = std::make_unique<TextFormatter>(static_cast<const MText&>(child), child.name,
                                                    left, pen.x, width, pen.y, imageRight,
                                                    imageBottom, canvas);
    else if (child.kind == ModelLink)
        formatter = std::make_unique<LinkFormatter>(static_cast<const MLink&>(child), child.name,
                                                    left, pen.x, width, pen.y, imageRight,
                                                    imageBottom, canvas);
    else
        return pen;
    formatter->format(scene);
    return PenState{formatter->x, formatter->y, formatter->lineHeight};
}

}  // namespace

MImage::MImage(const wchar_t* given) : MElement(ModelImage) {
    std::wstring text = given ? given : L"";
    path = text.substr(0, kPathUnits - 1);
}

MButton::MButton(const wchar_t* image, const wchar_t* linkTo, const wchar_t* hintText)
    : MElement(ModelButton) {
    if (image)
        imagePath = image;
    if (linkTo)
        link = linkTo;
    if (hintText)
        hint = hintText;
}

MElement* MContainer::add(std::unique_ptr<MElement> element) {
    children.push_back(std::move(element));
    return children.back().get();
}

MText* MContainer::addText(const wchar_t* text, const FontSpec* font, ARGB color) {
    return static_cast<MText*>(add(std::make_unique<MText>(text ? text : L"", font, color)));
}

MLink* MContainer::addLink(const wchar_t* text, const wchar_t* url, const FontSpec* font,
                           ARGB color, const FontSpec* hoverFont, ARGB hoverColor) {
    return static_cast<MLink*>(add(std::make_unique<MLink>(
        text ? text : L"", url ? url : L"", font, color, hoverFont, hoverColor)));
}

std::unique_ptr<SContainer> MContainer::StartScene(bool withNameAndBackground) const {
    auto scene = std::make_unique<SContainer>(rect);
    if (!withNameAndBackground)
        return scene;
    scene->name = name;
    if (hasBackground)
        scene->add(std::make_unique<SBackground>(FloatRect{0, 0, rect.width, rect.height},
                                                 cornerRadius, backgroundColor));
    return scene;
}

void MContainer::FinishScene(SContainer& scene) const {
    if (hasBackground && !scene.children.empty() &&
        scene.children.front()->kind == SceneBackground)
        scene.children.front()->rect = FloatRect{0, 0, scene.rect.width, scene.rect.height};
}

std::unique_ptr<SContainer> MParagraph::layout(Canvas& canvas) {
    if (rect.width == 0)
        return std::make_unique<SContainer>(rect);
    auto scene = StartScene(true);
    float inner = InnerWidth();

    float imageRight = 0, imageBottom = 0;
    ImageUse picture = floatImage ? canvas.AcquireImage(floatImage->path.c_str()) : ImageUse();
    if (picture) {
        ImageSize size = SizeOf(picture.get());
        const Padding& p = floatImage->padding;
        auto image = std::make_unique<SImage>(
            FloatRect{p.left + padding.left, p.top + padding.top, size.width, size.height},
            std::move(picture));
        image->name = floatImage->name;
        scene->add(std::move(image));
        imageRight = size.width + p.left + p.right;
        imageBottom = size.height + p.top + p.bottom + padding.top;
    }

    PenState pen{imageRight, padding.top, 0};
    for (const auto& child : children)
        pen = FormatChild(*child, *scene, padding.left, pen, inner, imageRight, imageBottom,
                          canvas);
    scene->rect.height = pen.y + pen.lineHeight + padding.bottom;

    if (!floatImage && textAlign != -1)
        AlignLines(*scene, hasBackground ? 1 : 0, padding.left, inner, textAlign);
    FinishScene(*scene);
    return scene;
}

std::unique_ptr<SContainer> MDiv::layout(Canvas& canvas) {
    Progress progress = BeginLayout();
    while (LayoutNext(progress, canvas)) {
    }
    return FinishLayout(progress);
}

MDiv::Progress MDiv::BeginLayout() const {
    Progress progress;
    if (rect.width == 0) {
        progress.scene = std::make_unique<SContainer>(rect);
        progress.next = children.size();
        progress.empty = true;
        return progress;
    }
    progress.scene = StartScene(true);
    progress.y = padding.top;
    return progress;
}

bool MDiv::LayoutNext(Progress& progress, Canvas& canvas) {
    if (progress.next >= children.size())
        return false;
    MElement& child = *children[progress.next++];
    SContainer& scene = *progress.scene;
    float& y = progress.y;
    const float inner = InnerWidth();
    const Padding& p = child.padding;
    if (child.isContainer()) {
        auto& box = static_cast<MContainer&>(child);
        box.rect = FloatRect{padding.left, y, inner, 0};
        std::unique_ptr<SContainer> part = box.layout(canvas);
        y += part->rect.height;
        scene.add(std::move(part));
    } else if (child.kind == ModelImage) {
        auto& model = static_cast<MImage&>(child);
        ImageUse picture = canvas.AcquireImage(model.path.c_str());
        if (!picture)
            return true;  // a missing picture takes no room
        ImageSize size = SizeOf(picture.get());
        float outer = size.width + p.left + p.right;
        float x = AlignedX(model.align, p.left, padding.left, inner, outer);
        auto image = std::make_unique<SImage>(FloatRect{x, y + p.top, size.width, size.height},
                                              std::move(picture));
        image->name = model.name;
        scene.add(std::move(image));
        y += size.height + p.top + p.bottom;
    } else if (child.kind == ModelButton) {
        auto& model = static_cast<MButton&>(child);
        ImageUse normal = Acquire(canvas, model.imagePath);
        ImageUse hover = Acquire(canvas, model.hoverImagePath);
        ImageSize size = SizeOf(normal.get());
        float outer = size.width + p.left + p.right;
        if (model.align != AlignLeft)
            outer = Truncated(outer);
        float x = Truncated(AlignedX(model.align, p.left, padding.left, inner, outer));
        scene.add(MakeButton(model, std::move(normal), std::move(hover), x, y + p.top));
        y += size.height + p.top + p.bottom;
    }
    return true;
}

std::unique_ptr<SContainer> MDiv::FinishLayout(Progress& progress) const {
    std::unique_ptr<SContainer> scene = std::move(progress.scene);
    if (progress.empty || !scene)
        return scene ? std::move(scene) : std::make_unique<SContainer>(rect);
    scene->rect.height = progress.y + padding.bottom;
    FinishScene(*scene);
    return scene;
}

std::unique_ptr<SContainer> MColumns::layout(Canvas& canvas) {
    if (rect.width == 0)
        return std::make_unique<SContainer>(rect);
    auto scene = StartScene(true);
    float remaining = InnerWidth();
    int automatic = 0;
    for (const auto& child : children) {
        const Padding& p = child->padding;
        if (child->isContainer()) {
            float width = static_cast<MContainer&>(*child).rect.width;
            if (width == 0)
                ++automatic;
            else
                remaining -= width;
        } else if (child->kind == ModelImage) {
            auto& model = static_cast<MImage&>(*child);
            model.cached = canvas.AcquireImage(model.path.c_str());
            if (model.cached)
                remaining -= SizeOf(model.cached.get()).width + p.left + p.right;
        } else if (child->kind == ModelButton) {
            auto& model = static_cast<MButton&>(*child);
            model.cached = Acquire(canvas, model.imagePath);
            if (model.cached)
                remaining -= SizeOf(model.cached.get()).width + p.left + p.right;
        }
    }
    remaining = std::max(remaining, 0.0f);

    float cursor = padding.left;
    float rowHeight = 0;
    float top = padding.top;
    for (const auto& child : children) {
        const Padding& p = child->padding;
        if (child->isContainer()) {
            auto& box = static_cast<MContainer&>(*child);
            if (box.rect.width == 0)
                box.rect.width = remaining / float(automatic);
            box.rect.y += top;
            box.rect.x = cursor + box.rect.x;  // a column's own x is a gap before it
            cursor = box.rect.x + box.rect.width;
            std::unique_ptr<SContainer> part = box.layout(canvas);
            rowHeight = std::max(rowHeight, Truncated(part->rect.y + part->rect.height));
            scene->add(std::move(part));
        } else if (child->kind == ModelImage) {
            auto& model = static_cast<MImage&>(*child);
            if (!model.cached)
                continue;
            ImageSize size = SizeOf(model.cached.get());
            auto image = std::make_unique<SImage>(
                FloatRect{cursor + p.left, top + p.top, size.width, size.height},
                std::move(model.cached));
            image->name = model.name;
            scene->add(std::move(image));
            cursor += size.width + p.left + p.right;
            rowHeight = std::max(rowHeight, Truncated(top + p.top + size.height + p.bottom));
        } else if (child->kind == ModelButton) {
            auto& model = static_cast<MButton&>(*child);
            ImageUse normal = std::move(model.cached);
            ImageUse hover = Acquire(canvas, model.hoverImagePath);
            ImageSize size = SizeOf(normal.get());
            scene->add(MakeButton(model, std::move(normal), std::move(hover), cursor + p.left,
                                  top + p.top));
            cursor += size.width + p.left + p.right;
            rowHeight = std::max(rowHeight, Truncated(size.height + top + p.top + p.bottom));
        }
    }
    scene->rect.height = rowHeight + padding.bottom;
    FinishScene(*scene);
    return scene;
}

std::unique_ptr<SContainer> MList::layout(Canvas& canvas) {
    if (rect.width == 0)
        return std::make_unique<SContainer>(rect);
    auto scene = StartScene(true);
    GpFont* bullet = ResolveFont(canvas, bulletFont);
    float line = Truncated(canvas.FontHeight(bullet));
    float bulletWidth = canvas.MeasureCharWidth(L'\u2022', bullet);
    float indent = line + padding.left;
    float itemWidth = Truncated(rect.width - indent - padding.right);
    float y = padding.top;

    for (auto& child : children) {
        if (child->kind == ModelText || child->kind == ModelLink) {
            auto wrapper = std::make_unique<MParagraph>();
            wrapper->add(std::move(child));
            child = std::move(wrapper);
        } else if (child->kind == ModelImage) {
            auto wrapper = std::make_unique<MDiv>();
            wrapper->add(std::move(child));
            child = std::move(wrapper);
        }
        if (!child->isContainer())
            continue;
        auto& item = static_cast<MContainer&>(*child);
        item.rect.width = itemWidth;
        std::unique_ptr<SContainer> part = item.layout(canvas);
        part->rect.x += indent;
        part->rect.y = y + part->rect.y;
        float top = y;
        y = part->rect.y + part->rect.height + 3;
        // The bullet sits on the item's first line, bottom to bottom.
        SElement* leaf = firstLeaf(*part);
        float first = leaf ? leaf->rect.height : line;
        scene->add(std::make_unique<SText>(
            FloatRect{indent - line + bulletWidth / 3, top + first - line, line, line}, L"\u2022",
            bullet, 0xFF000000u));
        scene->add(std::move(part));
    }
    scene->rect.height = y + padding.bottom;
    FinishScene(*scene);
    return scene;
}

std::unique_ptr<SContainer> BiHeader::layout(Canvas& canvas) {
    auto scene = StartScene(false);
    float inner = InnerWidth();
    float imageHeight = 0;
    if (ImageUse picture = Acquire(canvas, imagePath)) {
        ImageSize size = SizeOf(picture.get());
        scene->add(std::make_unique<SImage>(FloatRect{0, 0, size.width, size.height},
                                            std::move(picture)));
        imageHeight = size.height;
    }

    // Each part keeps only its first run: a header is one line.
    auto formatOne = [&](const MText& part, float left, float width, float& lineHeight) {
        std::unique_ptr<TextFormatter> formatter;
        if (part.kind == ModelLink)
            formatter = std::make_unique<LinkFormatter>(static_cast<const MLink&>(part),
                                                        std::nullopt, left, 0, width,
                                                        padding.top, 0, 0, canvas);
        else
            formatter = std::make_unique<TextFormatter>(part, std::nullopt, left, 0, width,
                                                        padding.top, 0, 0, canvas);
        size_t first = formatter->format(*scene);
        lineHeight = formatter->lineHeight;
        SElement* run = nullptr;
        if (first < scene->children.size()) {
            scene->children.resize(first + 1);
            run = scene->children[first].get();
            if (run->kind == SceneLink)
                static_cast<SLink*>(run)->runs.clear();
        }
        return std::make_pair(run, formatter->x);
    };

    float leftHeight = 0, rightHeight = 0;
    SElement* leftRun = nullptr;
    SElement* rightRun = nullptr;
    if (leftText) {
        std::unique_ptr<MText> part;
        if (leftLink)
            part = std::make_unique<MLink>(*leftText, *leftLink, leftFont, leftColor,
                                           linkHoverFont, linkHoverColor);
        else
            part = std::make_unique<MText>(*leftText, leftFont, leftColor);
        leftRun = formatOne(*part, padding.left, inner - float(rightWidth), leftHeight).first;
    }
    if (rightText) {
        MText part(*rightText, rightFont, rightColor);
        auto [run, endX] = formatOne(part, 0, float(rightWidth), rightHeight);
        rightRun = run;
        if (rightRun)
            rightRun->rect.x = padding.left + inner - endX;
    }

    float height = std::max(leftHeight, rightHeight);
    for (SElement* run : {leftRun, rightRun})
        if (run)
            run->rect.y += (height - run->rect.height) / 2;
    height += padding.top + padding.bottom;
    scene->rect.height = std::max(imageHeight, height);
    return scene;
}

std::unique_ptr<SContainer> MMap::layout(Canvas& canvas) {
    auto scene = StartScene(false);
    // The picture fills the box inside a two-pixel frame: 276 x 266 on a
    // city map; a header strip keeps its own, lower box instead of being
    // stretched down over the page beneath it.
    if (ImageUse picture = mapImage ? canvas.AcquireImage(mapImage->path.c_str()) : ImageUse())
        scene->add(std::make_unique<SImage>(
            FloatRect{2, 2, std::max(0.f, rect.width - 4), std::max(0.f, rect.height - 4)},
            std::move(picture)));
    for (const auto& child : children) {
        if (child->kind != ModelButton)
            continue;
        auto& marker = static_cast<MButton&>(*child);
        auto button = std::make_unique<SButton>(marker.normalRect, marker.hoverRect,
                                                Acquire(canvas, marker.imagePath),
                                                Acquire(canvas, marker.hoverImagePath));
        button->link = marker.link;
        button->hint = marker.hint;
        scene->add(std::move(button));
    }
    return scene;
}

void CollectPictures(const MContainer& model, std::vector<std::wstring>& paths) {
    const auto add = [&](const std::optional<std::wstring>& path) {
        if (path && !path->empty())
            paths.push_back(*path);
    };
    if (model.kind == ModelParagraph) {
        if (const auto& floated = static_cast<const MParagraph&>(model).floatImage)
            add(floated->path);
    } else if (model.kind == ModelBiHeader) {
        add(static_cast<const BiHeader&>(model).imagePath);
    } else if (model.kind == ModelMap) {
        if (const auto& map = static_cast<const MMap&>(model).mapImage)
            add(map->path);
    }
    for (const auto& child : model.children) {
        if (child->isContainer()) {
            CollectPictures(static_cast<const MContainer&>(*child), paths);
        } else if (child->kind == ModelImage) {
            add(static_cast<const MImage&>(*child).path);
        } else if (child->kind == ModelButton) {
            add(static_cast<const MButton&>(*child).imagePath);
            add(static_cast<const MButton&>(*child).hoverImagePath);
        }
    }
}
