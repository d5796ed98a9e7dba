// Popup and PopupHint; see Popup.h.
#include "ui/Popup.h"

#include "gfx/Canvas.h"

Popup::Popup(int x, int y, int width, int height, Window* owner)
    : Window(x, y, width, height, owner->root),
      owner(owner),
      relativeRect{x, y, width, height} {
    ownedBy = owner;
    UpdateRegion();
}

void Popup::OnShow() {
    PlaceOverOwner();
}

void Popup::PlaceOverOwner() {
    int ax = 0, ay = 0;
    for (Window* w = owner; w; w = w->parent) {
        ax += w->x;
        ay += w->y;
    }
    x = relativeRect.x + ax;
    y = relativeRect.y + ay;
    width = relativeRect.width;
    height = relativeRect.height;
}

PopupHint::PopupHint(int x, int y, int width, int height, Window* owner)
    : Popup(x, y, width, height, owner) {}

PopupHint::~PopupHint() {
    KillWindowTimer(kFadeTimer);
}

void PopupHint::OnShow() {
    PlaceOverOwner();
    float w = 70, h = 20;
    if (text && canvas) {
        gdip::RectF measured = canvas->MeasureText(text, font, 200, 200);
        // GDI+ pads the measured width by about a pixel on each side.
        w = measured.Width - 2;
        h = measured.Height;
    }
    int bubbleWidth = int(w + 8);
    int bubbleHeight = int(h + 8);
    width = bubbleWidth;
    height = bubbleHeight;
    y -= bubbleHeight + 2;
    x -= (bubbleWidth - relativeRect.width) / 2;
    UpdateRegion();
    alpha = 0;
    SetWindowTimer(kFadeTimer, 20);
}

void PopupHint::OnTimer(int /*id*/) {
    if (alpha < 1) {
        alpha += 0.1f;
        Invalidate();
    }
    if (alpha >= 1) {
        alpha = 1;
        KillWindowTimer(kFadeTimer);
    }
}

void PopupHint::Paint() {
    float w = float(width), h = float(height);
    if (backgroundImage)
        canvas->DrawImage(backgroundImage, 0, 0, w, h);
    else
        canvas->FillRoundRect(0, 0, w, h, 4, (gdip::ARGB(alpha * 220) << 24) | 0xEBEBEB);
    if (text)
        canvas->DrawText(text, font, gdip::ARGB(alpha * 255) << 24, gdip::RectF(2, 2, w - 4, h - 4));
}
