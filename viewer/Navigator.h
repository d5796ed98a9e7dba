// The page viewer that fills the content area of every tab.
//
// It shows one borrowed Page at a time: the overlay scene at the bottom, the
// title in the header and the page's scene clipped below the header, moved by
// a thin scroller and smoothly by the mouse wheel. It follows the pointer
// over the scene's links and image buttons, highlights them, shows a delayed
// hint bubble over buttons that have one and turns clicks into links:
// "anchor://name" scrolls to the element of that name here, every other link
// goes to the owner's OnLink.
//
// While the tree paints into a layer, the scene is drawn from a retained copy
// of its own (the scene alone on clear pixels, as tall as the space below the
// header): a scroll moves that copy's rows and draws only the rows that came
// into view, a hover draws only the rows of what changed. Painted directly,
// the scene is drawn as it is.
//
// Coordinates: the Navigator's own, origin at its top-left; the overlay
// scene is placed in them as it is, the page's scene at y = header height
// minus the scroll position. Timers: 1 smooth scroll, 10 hint delay (the
// bubble itself fades on timer 0). UI thread only.
//
// Element pointers below point into the shown page's scenes. Before the
// owner destroys a page that may be shown it calls ForgetPage, so that no
// pointer into the page outlives it.
#pragma once

#include "gfx/Layer.h"
#include "viewer/Page.h"
#include "ui/Popup.h"
#include "ui/Scroller.h"

#include <memory>
#include <optional>
#include <string>

class Navigator : public Window {
public:
    static constexpr int kScrollTimer = 1;
    static constexpr int kHintTimer = 10;
    static constexpr unsigned kScrollTickMs = 20;
    static constexpr unsigned kHintDelayMs = 300;
    static constexpr int kWheelStep = 30;  // pixels per wheel notch

    // The parent is the owner that hears the links the Navigator does not serve.
    Navigator(int x, int y, int width, int height, Window* parent);
    ~Navigator() override;

    // Shows the page (null for none) at the position at which it was left.
    void ShowPage(Page* page);
    // The page is about to be destroyed: when it is the one shown, drop it and
    // every pointer into its scenes without touching them, and show nothing.
    void ForgetPage(const Page* gone);

    void Paint() override;
    void OnResize() override;
    void OnTimer(int id) override;
    void OnMouseLeave(MouseEvent& event) override;
    void OnMouseWheel(MouseEvent& event) override;
    void OnMouseDown(MouseEvent& event) override;
    void OnMouseUp(MouseEvent& event) override;
    void OnMouseMove(MouseEvent& event) override;
    void OnLink(const wchar_t* url) override;

    Page* page = nullptr;                // borrowed; pages belong to the owner
    Window* owner;                       // borrowed
    std::unique_ptr<Scroller> scroller;  // child, shown while the page overflows
    SLink* pressedLink = nullptr;        // borrowed from the page's scene
    SLink* hoveredLink = nullptr;        // borrowed from the page's scene
    gdip::GpFont* titleFont = nullptr;   // borrowed from the font cache
    gdip::GpFont* hintFont = nullptr;    // borrowed from the font cache
    SButton* pressedButton = nullptr;    // borrowed from the page's scenes
    SButton* hoveredButton = nullptr;    // borrowed from the page's scenes
    SButton* hintButton = nullptr;       // whose bubble is pending or shown; borrowed
    std::unique_ptr<PopupHint> hint;     // child of the root, never takes the pointer
    IntRect hintRect;                    // the last button found under the pointer
    POINT lastPointer{0, 0};             // of the last mouse move
    int pendingScroll = 0;               // wheel distance still to go, in pixels
    // The one colour (0xRRGGBB) the owner paints under the whole view, if it
    // paints one: the retained copy of the scene is then laid on it, opaque.
    std::optional<uint32_t> backdrop;

private:
    // Shows the scroller sized for the page when its scene overflows the
    // space below the header, and hides it otherwise.
    void FitScroller();
    // The scroll position the scene is drawn at: 0 while nothing scrolls.
    int ScrollPosition() const;
    // Moves the scene to the scroll position and remembers that position in
    // the page, so that hit tests and a later return to the page agree with
    // what is drawn.
    void PlaceScene();
    // Moves to a new position and brings the scene along.
    void ScrollTo(int position);
    void StopScrolling();
    // Whether the page's scene may answer the pointer at this height.
    bool InScrolledArea(int y) const;
    SLink* LinkAt(int x, int y) const;
    SButton* ButtonAt(int x, int y, IntRect& rect) const;
    // Hover flags after the pointer reached (x, y); true when one changed.
    bool UpdateHover(int x, int y);
    // Restarts the hint delay when the pointer reached another button.
    void UpdateHint();
    void HideHint();
    // Invalidates where an element of the shown page is drawn: the rows of a
    // link across the whole width (its hover font may be wider), the
    // rectangles of a button with a margin; the whole view when it is not
    // found.
    void InvalidateElement(const SElement* element);
    // Invalidates a part of the view and of the scene's retained copy.
    void InvalidateScenePart(RECT part);
    // Draws the scene from its retained copy on the layer being painted,
    // within clip (the paint's clip bounds, in this window's pixels),
    // bringing the copy up to date first; false when there is no copy.
    bool DrawRetainedScene(int header, const gdip::RectF& clip);
    // Follows a link of the page from a copy: an owner that replaces the
    // page while it handles the link must not pull the text away under it.
    void Follow(std::wstring url);

    Layer sceneLayer_;               // the scene, on the backdrop or alone; row 0 is
                                     // the header line
    bool sceneCopied_ = false;       // sceneLayer_ holds the shown page's scene
    int copiedScroll_ = 0;           // at this scroll position
    unsigned copiedGeneration_ = 0;  // and the root's generation
    std::vector<RECT> sceneStale_;   // parts of sceneLayer_ to draw again
};
