// Scroller; see Scroller.h.
#include "ui/Scroller.h"

#include "gfx/Canvas.h"

#include <algorithm>

Scroller::Scroller(int x, int y, int width, int height, Window* parent)
    : Window(x, y, width, height, parent) {
    UpdateRegion();
}

void Scroller::PlaceThumb() {
    int range = maximum - pageSize - minimum;
    // A page at least as tall as its content has nowhere to scroll.
    if (position == minimum || range <= 0)
        thumbTop = 0;
    else
        thumbTop = (height - thumbHeight) * (position - minimum) / range;
}

void Scroller::setPosition(int pos) {
    position = std::min(std::max(pos, minimum), maximum - pageSize);
    PlaceThumb();
}

void Scroller::Paint() {
    canvas->FillRoundRect(0, float(thumbTop), float(width), float(thumbHeight), 4, 0x64646464u);
}

void Scroller::OnMouseDown(MouseEvent& event) {
    if (event.x < 0 || event.x >= width || event.y < thumbTop ||
        event.y >= thumbTop + thumbHeight)
        return;
    root->SetMouseCapture(this);
    dragAnchor = event.y;
}

void Scroller::OnMouseMove(MouseEvent& event) {
    if (root->CaptureWindow() != this)
        return;
    int y = event.y;
    auto onThumb = [this](int v) { return v >= thumbTop && v <= thumbTop + thumbHeight; };
    if (!onThumb(y) && !onThumb(dragAnchor))
        return;
    int d = y - dragAnchor;
    if (thumbTop + thumbHeight + d > height)
        d = height - thumbHeight - thumbTop;
    else if (thumbTop + d < 0)
        d = -thumbTop;
    thumbTop += d;
    dragAnchor += d;
    int track = height - thumbHeight;
    position = track == 0 ? 0 : (maximum - pageSize - minimum) * thumbTop / track + minimum;
    if (parent)
        parent->Invalidate();
}

void Scroller::OnMouseUp(MouseEvent&) {
    root->ReleaseMouseCapture();
}
