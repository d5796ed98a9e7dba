// The thin vertical scroll thumb of the page viewer. The owner sets the
// content range, the page size and the thumb height and reads position; the
// thumb can be dragged with the mouse, and follows the pointer even outside
// the scroller while it holds the capture.
#pragma once

#include "ui/Window.h"

class Scroller : public Window {
public:
    Scroller(int x, int y, int width, int height, Window* parent);

    // Clamps pos to [minimum, maximum - pageSize] and moves the thumb.
    void setPosition(int pos);

    void Paint() override;
    void OnMouseDown(MouseEvent& event) override;
    void OnMouseMove(MouseEvent& event) override;
    void OnMouseUp(MouseEvent& event) override;

    int minimum = 0;
    int maximum = 0;   // content range
    int position = 0;  // first visible content pixel
    int pageSize = 0;  // visible content height
    int thumbTop = 0;  // in the scroller's own pixels
    int thumbHeight = 0;
    int dragAnchor = 0;  // last pointer y while dragging

private:
    void PlaceThumb();
};
