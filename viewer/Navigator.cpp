// Navigator; see Navigator.h.
#include "viewer/Navigator.h"

#include "base/EventListener.h"
#include "ui/Button.h"
#include "gfx/Canvas.h"
#include "gfx/Palette.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <utility>

using namespace gdip;

namespace {

constexpr wchar_t kAnchorScheme[] = L"anchor://";
constexpr size_t kAnchorSchemeLength = sizeof(kAnchorScheme) / sizeof(wchar_t) - 1;
// Without a header the thumb starts a little below the top edge.
constexpr int kBareScrollerTop = 6;

// Moves a highlight flag (hover or pressed) from the element that holds it
// to `next`; either may be null. Returns whether anything changed.
template <class Element>
bool MoveFlag(Element*& holder, Element* next, bool Element::*flag) {
    if (holder == next)
        return false;
    if (holder)
        holder->*flag = false;
    if (next)
        next->*flag = true;
    holder = next;
    return true;
}


}  // namespace

Navigator::Navigator(int x, int y, int width, int height, Window* parent)
    : Window(x, y, width, height, parent), owner(parent) {
    UpdateRegion();
    if (canvas) {
        titleFont = canvas->GetFont(kRegularFamily, 22, FontBold);
        hintFont = canvas->GetFont(kRegularFamily, 13, FontRegular);
    }
    hint = std::make_unique<PopupHint>(x, y, width, height, this);
    hint->font = hintFont;
    hint->mouseTransparent = true;
    scroller = std::make_unique<Scroller>(width - 12, 0, 9, height, this);
    scroller->pageSize = height;
    scroller->maximum = 500;
    scroller->thumbHeight = std::max(20, height * scroller->pageSize / 500);
    scroller->Show();
}

Navigator::~Navigator() {
    KillWindowTimer(kScrollTimer);
    KillWindowTimer(kHintTimer);
    hint->Hide();
    scroller->Hide();
}

void Navigator::ShowPage(Page* newPage) {
    if (root->CaptureWindow())
        root->ReleaseMouseCapture();
    KillWindowTimer(kHintTimer);
    // The page being left keeps its place even if no paint has recorded it
    // since the last scroll.
    if (page)
        page->scrollPos = float(ScrollPosition());
    page = newPage;
    pendingScroll = 0;
    FitScroller();
    // Placed now rather than at the next paint, so that a click arriving
    // before that paint hits what the user is about to see.
    PlaceScene();
    MouseEvent none;
    OnMouseLeave(none);
    sceneCopied_ = false;
    Invalidate();
}

void Navigator::ForgetPage(const Page* gone) {
    if (!gone || gone != page)
        return;
    // Nothing of the page is read or written from here on.
    pressedLink = nullptr;
    hoveredLink = nullptr;
    pressedButton = nullptr;
    hoveredButton = nullptr;
    hintButton = nullptr;
    page = nullptr;
    // Hides the bubble, whose text lies in the page, the scroller and the timers.
    ShowPage(nullptr);
}

void Navigator::FitScroller() {
    if (!page || !page->scrollable || !page->scene) {
        scroller->Hide();
        return;
    }
    int total = int(page->scene->rect.height);
    int header = int(page->headerHeight);
    if (total <= height - header) {
        scroller->Hide();
        return;
    }
    scroller->y = header != 0 ? header : kBareScrollerTop;
    scroller->height = height - scroller->y;
    scroller->UpdateRegion();
    scroller->OnResize();
    scroller->pageSize = height - header;
    scroller->minimum = 0;
    scroller->maximum = total;
    scroller->thumbHeight = std::max(20, scroller->pageSize * scroller->height / total);
    scroller->setPosition(int(page->scrollPos));
    scroller->Show();
}

int Navigator::ScrollPosition() const {
    return scroller->attached ? scroller->position : 0;
}

void Navigator::PlaceScene() {
    if (!page || !page->scene)
        return;
    int position = ScrollPosition();
    page->scene->rect.y = float(int(page->headerHeight) - position);
    page->scrollPos = float(position);
}

void Navigator::ScrollTo(int position) {
    int before = ScrollPosition();
    scroller->setPosition(position);
    PlaceScene();
    if (ScrollPosition() == before)
        return;
    // The header and what lies above it stay; the copy of the scene moves
    // its rows at the next paint.
    int header = page ? int(page->headerHeight) : 0;
    InvalidatePart(RECT{0, header, width, height});
}

void Navigator::StopScrolling() {
    pendingScroll = 0;
    KillWindowTimer(kScrollTimer);
}

void Navigator::Paint() {
    if (!canvas || !canvas->graphics || !page)
        return;
    SavedClip saved(canvas->graphics);
    if (page->overlayScene)
        page->overlayScene->draw(*canvas);
    if (!page->scene)
        return;
    float header = float(page->headerHeight);
    // The part being painted, read once: under Wine that costs as much as
    // drawing a line of text.
    RectF clip(0, 0, 0, 0);
    const bool clipKnown = GdipGetClipBounds(canvas->graphics.get(), &clip) == Ok;
    // Only a paint that reaches the header draws the title: a scroll
    // repaints just the space below it.
    if (page->title && (!clipKnown || clip.Y < header)) {
        canvas->DrawText(page->title->c_str(), titleFont, palette::Black,
                         RectF(10, 14, float(width - 10), header));
    }
    // Intersected with the clip of the paint in progress, so that the page
    // never draws outside the area being repainted.
    canvas->graphics.Check(GdipSetClipRect(canvas->graphics.get(), 0, header, float(width),
                                           float(height) - header, CombineModeIntersect));
    PlaceScene();
    if (!clipKnown || !DrawRetainedScene(int(header), clip))
        page->scene->draw(*canvas);
}

bool Navigator::DrawRetainedScene(int header, const RectF& clip) {
    Layer* target = canvas->targetLayer();
    // The copy is of the target's pixels: the view's size at the canvas's
    // scale, scrolled by whole rows of them.
    const float scale = canvas->scale();
    const int viewWidth = int(std::ceil(width * scale));
    const int viewHeight = int(std::ceil((height - header) * scale));
    if (!target || viewHeight <= 0 || viewWidth <= 0)
        return false;
    // Over a backdrop the copy holds it under the scene, unless something
    // of the page's lies between them.
    const bool opaque = backdrop.has_value() && !page->overlayScene;
    if (sceneLayer_.width() != viewWidth || sceneLayer_.height() != viewHeight ||
        sceneLayer_.opaque() != opaque || (opaque && sceneLayer_.fill() != *backdrop)) {
        bool made = opaque ? sceneLayer_.ResizeOpaque(viewWidth, viewHeight, *backdrop)
                           : sceneLayer_.Resize(viewWidth, viewHeight);
        if (!made)
            return false;
        sceneCopied_ = false;
    }
    const int position = ScrollPosition();
    const int scroll = scale == 1 ? position : int(std::lround(position * scale));
    if (copiedGeneration_ != root->Generation())
        sceneCopied_ = false;
    copiedGeneration_ = root->Generation();
    if (sceneCopied_ && scroll != copiedScroll_) {
        const int distance = scroll - copiedScroll_;
        if (std::abs(distance) >= viewHeight) {
            sceneCopied_ = false;
        } else {
            sceneLayer_.ScrollRows(distance);
            RECT exposed = distance > 0 ? RECT{0, viewHeight - distance, viewWidth, viewHeight}
                                        : RECT{0, 0, viewWidth, -distance};
            OffsetRect(&exposed, 0, scroll);
            sceneStale_.push_back(exposed);
        }
    }
    if (!sceneCopied_)
        sceneStale_.assign(1, RECT{0, scroll, viewWidth, scroll + viewHeight});
    sceneCopied_ = true;
    copiedScroll_ = scroll;

    GraphicsObject& graphics = canvas->graphics;
    if (!sceneStale_.empty()) {
        // Kept in the scene's own rows: to the copy's.
        std::vector<RECT> parts;
        parts.swap(sceneStale_);
        for (RECT& part : parts)
            OffsetRect(&part, 0, -scroll);
        // The scene's rows land on whole rows of the copy, however the
        // scroll position scales.
        const float shift = -header * scale + (position * scale - float(scroll));
        canvas->RedrawParts(sceneLayer_, parts, 0, shift,
                            [&](const RECT&) { page->scene->draw(*canvas); });
    }

    // Onto the layer being painted, where this view lies on it and within
    // the part being painted (a rectangle: the tree paints rectangles; the
    // copy starts below the header, where Paint cut the clip).
    float originX = 0, originY = 0;
    if (!canvas->WorldOffset(originX, originY))
        return false;
    const int copyLeft = int(std::lround(originX));
    const int copyTop = int(std::lround(originY + header * scale));
    RECT part{int(std::floor(originX + clip.X * scale)) - copyLeft,
              int(std::floor(originY + clip.Y * scale)) - copyTop,
              int(std::ceil(originX + (clip.X + clip.Width) * scale)) - copyLeft,
              int(std::ceil(originY + (clip.Y + clip.Height) * scale)) - copyTop};
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
    sceneLayer_.DrawOn(*target, copyLeft, copyTop, part);
    GdiFlush();
    return true;
}

void Navigator::InvalidateScenePart(RECT part) {
    InvalidatePart(part);
    if (!sceneCopied_ || !page || !page->scene)
        return;
    OffsetRect(&part, 0, -int(page->scene->rect.y));
    // The copy's parts are of its own pixels, rows from the scene's top.
    const float scale = canvas ? canvas->scale() : 1;
    if (scale != 1)
        part = RECT{LONG(std::floor(part.left * scale)), LONG(std::floor(part.top * scale)),
                    LONG(std::ceil(part.right * scale)), LONG(std::ceil(part.bottom * scale))};
    AddStalePart(sceneStale_, part);
}

void Navigator::InvalidateElement(const SElement* element) {
    if (!element || !page)
        return;
    float offsetX = 0, offsetY = 0;
    bool found = page->scene && findOffset(*page->scene, element, offsetX, offsetY);
    if (!found)
        found = page->overlayScene && findOffset(*page->overlayScene, element, offsetX, offsetY);
    if (!found) {
        sceneCopied_ = false;
        Invalidate();
        return;
    }
    // Antialiased edges and glyph overhangs reach a little past the boxes.
    constexpr int kMargin = 4;
    auto rows = [&](const FloatRect& r) {
        return RECT{0, int(std::floor(offsetY + r.y)) - kMargin, width,
                    int(std::ceil(offsetY + r.y + r.height)) + kMargin};
    };
    if (element->kind == SceneLink) {
        // Its lines follow one another: one part from the first to the last.
        const auto* link = static_cast<const SLink*>(element);
        RECT all = rows(link->rect);
        for (const SLink::Run& run : link->runs) {
            RECT line = rows(run.rect);
            UnionRect(&all, &all, &line);
        }
        InvalidateScenePart(all);
        return;
    }
    FloatRect box = element->bounds();
    InvalidateScenePart(RECT{int(std::floor(offsetX + box.x)) - kMargin,
                             int(std::floor(offsetY + box.y)) - kMargin,
                             int(std::ceil(offsetX + box.x + box.width)) + kMargin,
                             int(std::ceil(offsetY + box.y + box.height)) + kMargin});
}

void Navigator::OnResize() {
    sceneCopied_ = false;
    if (page)
        page->scrollPos = float(ScrollPosition());
    scroller->height = height - scroller->y;
    scroller->UpdateRegion();
    scroller->OnResize();
    // The room below the header changed: the page may now fit, or scroll
    // over another range.
    FitScroller();
    PlaceScene();
}

void Navigator::OnTimer(int id) {
    if (id == kHintTimer) {
        KillWindowTimer(kHintTimer);
        if (!hintButton || hintButton != hoveredButton || !hintButton->hint)
            return;
        hint->relativeRect = hintRect;
        hint->text = hintButton->hint->c_str();
        hint->Show();
        return;
    }
    if (id != kScrollTimer)
        return;
    if (std::abs(pendingScroll) < 2) {
        ScrollTo(scroller->position + pendingScroll);
        StopScrolling();
        // The content moved under a resting pointer: hover what is there now.
        MouseEvent at;
        at.x = lastPointer.x;
        at.y = lastPointer.y;
        OnMouseMove(at);
        return;
    }
    // A fifth of what remains, at least a pixel. Exactly the distance moved
    // is taken off pendingScroll, so the steps add up to the whole turn.
    int step = pendingScroll / 5;
    if (step == 0)
        step = pendingScroll > 0 ? 1 : -1;
    ScrollTo(scroller->position + step);
    pendingScroll -= step;
}

void Navigator::OnMouseLeave(MouseEvent&) {
    InvalidateElement(hoveredLink);
    InvalidateElement(pressedLink);
    InvalidateElement(hoveredButton);
    MoveFlag(hoveredLink, static_cast<SLink*>(nullptr), &SLink::hover);
    MoveFlag(pressedLink, static_cast<SLink*>(nullptr), &SLink::pressed);
    MoveFlag(hoveredButton, static_cast<SButton*>(nullptr), &SButton::hover);
    pressedButton = nullptr;
    hintButton = nullptr;
    HideHint();
    KillWindowTimer(kHintTimer);
    // A smooth scroll stops where it is; the rest stays in pendingScroll
    // and joins the next wheel turn.
    KillWindowTimer(kScrollTimer);
    ShowSystemCursor(IDC_ARROW);
}

void Navigator::OnMouseWheel(MouseEvent& event) {
    if (!scroller->attached)
        return;
    BroadcastEvent(PageScrolled, 0);
    pendingScroll += event.wheel * -kWheelStep;
    // Never ask for more than the scroller can reach, so that a turn at an
    // end of the page neither moves nor leaves a remainder behind.
    int position = scroller->position;
    pendingScroll = std::min(pendingScroll, scroller->maximum - scroller->pageSize - position);
    pendingScroll = std::max(pendingScroll, scroller->minimum - position);
    SetWindowTimer(kScrollTimer, kScrollTickMs);
}

void Navigator::OnMouseDown(MouseEvent&) {
    pressedLink = hoveredLink;
    if (pressedLink) {
        pressedLink->pressed = true;
        InvalidateElement(pressedLink);
    }
    pressedButton = hoveredButton;
}

void Navigator::OnMouseUp(MouseEvent&) {
    if (SLink* link = std::exchange(pressedLink, nullptr)) {
        link->pressed = false;
        InvalidateElement(link);
        if (link == hoveredLink)
            Follow(link->url);
    }
    // Read only now: following the link may have shown another page, which
    // dropped the button. A press is used once, so a release after a press
    // elsewhere activates nothing.
    SButton* button = std::exchange(pressedButton, nullptr);
    if (button && button == hoveredButton && button->link)
        Follow(*button->link);
}

void Navigator::Follow(std::wstring url) {
    OnLink(url.c_str());
}

void Navigator::OnLink(const wchar_t* url) {
    if (!url)
        return;
    BroadcastEvent(PageLinkClicked, 0);
    if (std::wcsncmp(url, kAnchorScheme, kAnchorSchemeLength) != 0) {
        if (owner)
            owner->OnLink(url);
        return;
    }
    if (!page || !page->scene)
        return;
    float anchorY = 0;
    if (!findAnchor(*page->scene, url + kAnchorSchemeLength, &anchorY))
        return;
    // The jump lands on the anchor; a wheel scroll still under way would
    // carry the page past it.
    StopScrolling();
    ScrollTo(int(anchorY));
}

void Navigator::OnMouseMove(MouseEvent& event) {
    lastPointer = POINT{event.x, event.y};
    if (!page)
        return;
    // The scroller may have been dragged since the last paint.
    PlaceScene();
    UpdateHover(event.x, event.y);
    ShowSystemCursor(hoveredLink || hoveredButton ? IDC_HAND : IDC_ARROW);
    UpdateHint();
}

bool Navigator::UpdateHover(int x, int y) {
    SLink* oldLink = hoveredLink;
    SButton* oldButton = hoveredButton;
    bool changed = MoveFlag(hoveredLink, LinkAt(x, y), &SLink::hover);
    if (changed) {
        InvalidateElement(oldLink);
        InvalidateElement(hoveredLink);
    }
    IntRect rect;
    SButton* button = ButtonAt(x, y, rect);
    if (button)
        hintRect = rect;
    if (MoveFlag(hoveredButton, button, &SButton::hover)) {
        InvalidateElement(oldButton);
        InvalidateElement(hoveredButton);
        changed = true;
    }
    return changed;
}

bool Navigator::InScrolledArea(int y) const {
    // Above the header line the scene is clipped away: what lies there
    // scrolled out of sight must not answer the pointer.
    return page->scene && y >= int(page->headerHeight);
}

SLink* Navigator::LinkAt(int x, int y) const {
    if (!InScrolledArea(y))
        return nullptr;
    const SContainer& scene = *page->scene;
    int sceneX = x - int(scene.rect.x);
    int sceneY = y - int(scene.rect.y);
    for (const auto& child : scene.children) {
        SElement* hit = nullptr;
        if (child->kind == SceneContainer)
            hit = findAt(static_cast<const SContainer&>(*child), sceneX, sceneY, SceneLink);
        else if (child->kind == SceneLink && child->hitTest(sceneX, sceneY))
            hit = child.get();
        if (hit)
            return static_cast<SLink*>(hit);
    }
    return nullptr;
}

SButton* Navigator::ButtonAt(int x, int y, IntRect& rect) const {
    SElement* hit = nullptr;
    if (InScrolledArea(y))
        hit = findAt(*page->scene, x, y, SceneButton, &rect);
    if (!hit && page->overlayScene)
        hit = findAt(*page->overlayScene, x, y, SceneButton, &rect);
    return static_cast<SButton*>(hit);
}

void Navigator::UpdateHint() {
    if (hoveredButton == hintButton)
        return;
    HideHint();
    KillWindowTimer(kHintTimer);
    hintButton = nullptr;
    if (hoveredButton && hoveredButton->hint) {
        hintButton = hoveredButton;
        SetWindowTimer(kHintTimer, kHintDelayMs);
    }
}

void Navigator::HideHint() {
    hint->Hide();
    // The text lives in a button of the page; a hidden bubble keeps none of it.
    hint->text = nullptr;
}
