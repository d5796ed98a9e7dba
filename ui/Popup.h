// Popups: windows that float above the whole tree at a place relative to the
// window that owns them, and the fading hint bubble built on them.
//
// A popup is a child of the tree's root, so once shown it is painted after,
// and above, everything else; its rectangle is given relative to its owner
// and turned into root coordinates each time it is shown. UI thread only.
#pragma once

#include "ui/Window.h"

class Popup : public Window {
public:
    Popup(int x, int y, int width, int height, Window* owner);

    void OnShow() override;

    Window* owner;  // borrowed
    IntRect relativeRect;  // relative to the owner

protected:
    // Places the popup at relativeRect, moved to the owner's position.
    void PlaceOverOwner();
};

// A bubble that sizes itself to its text, sits centred 2 pixels above its
// rectangle and fades in over about ten ticks of timer 0.
class PopupHint : public Popup {
public:
    static constexpr int kFadeTimer = 0;

    PopupHint(int x, int y, int width, int height, Window* owner);
    ~PopupHint() override;

    void OnShow() override;
    void OnTimer(int id) override;
    void Paint() override;

    const wchar_t* text = nullptr;             // borrowed; null shows an empty bubble
    gdip::GpFont* font = nullptr;              // borrowed from the font cache
    gdip::GpImage* backgroundImage = nullptr;  // borrowed; null draws a rounded box
    float alpha = 0;                           // 0 to 1
};
