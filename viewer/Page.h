// A page: the unit that page builders deliver and the page viewer shows.
//
// A builder fills the model (and optionally an overlay model) on its own
// thread and sends the page to the panel with DM_CONTENT; from then on it
// belongs to the panel. On the window thread the panel lays it out once with
// layoutPage, which turns the models into scenes and drops them, and hands it
// to the Navigator, which only borrows it. Scene coordinates are those of the
// Navigator: the overlay is drawn at its own place, the page's scene below
// the header and moved by the scroll position.
#pragma once

#include "layout/Model.h"
#include "layout/Scene.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class Canvas;

// The width every page is built for: the content area's. A page that may
// scroll keeps its right padding clear of the scroller, which lies over it.
constexpr float kPageWidth = 280;

struct Page {
    float scrollPos = 0;  // the position last shown, restored when shown again
    std::wstring name;    // the key that "page://" links and tabs name it by
    std::unique_ptr<SContainer> scene;  // null until laid out
    std::unique_ptr<MContainer> model;  // as built; gone once laid out
    bool scrollable = false;
    uint32_t headerHeight = 0;  // pixels above the scene, for the title
    std::optional<std::wstring> title;
    // A fixed second scene beneath the title and the page's scene, neither
    // clipped nor scrolled; its buttons answer when no button of the page does.
    std::unique_ptr<MContainer> overlayModel;
    std::unique_ptr<SContainer> overlayScene;
    // How far a layout in slices has come; gone with the page.
    std::unique_ptr<MDiv::Progress> layoutProgress;

    bool laidOut() const { return !model && !overlayModel; }
};

// Lays out as much of the page's models as the deadline allows, at least
// one child of the page's block at a time, and drops each model once it is
// laid out. True when the page is laid out whole; its scene is set only
// then. A model that is not a block is laid out in one step.
bool layoutPageUntil(Page& page, Canvas& canvas, std::chrono::steady_clock::time_point deadline);

// Lays the page's models out into its scenes and destroys the models. A
// model is consumed by its layout, so a page is laid out once, before it is
// first shown.
inline void layoutPage(Page& page, Canvas& canvas) {
    layoutPageUntil(page, canvas, std::chrono::steady_clock::time_point::max());
}
