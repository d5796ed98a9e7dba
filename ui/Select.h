// The drop-down chooser of the map tab: the chosen entry in white with a
// pair of arrows that step through the entries, and a popup listing them
// all, opened by a click on the text. Both borrow a model that the widget
// owns; whenever the choice may have changed the parent hears
// OnCommand(10, 0).
#pragma once

#include "ui/Popup.h"

#include <memory>
#include <string>
#include <vector>

struct SelectModel {
    int selected = 0;
    std::vector<std::wstring> items;
};

// The list of entries over the Select, with the chosen row lying over it. It
// holds the mouse capture while open and closes when it loses it: after a
// choice, a press outside it, or another window taking the capture.
class SelectPopup : public Popup {
public:
    static constexpr int kTopMargin = 10;

    SelectPopup(int x, int y, int width, int height, Window* owner, gdip::GpFont* font,
                SelectModel* model);

    void OnShow() override;
    void Paint() override;
    void OnMouseMove(MouseEvent& event) override;
    void OnClick(MouseEvent& event) override;
    void OnMouseDown(MouseEvent& event) override;
    void OnCaptureLost() override;

    gdip::GpFont* font;   // borrowed from the font cache
    SelectModel* model;   // borrowed
    int hovered = -1;     // row under the pointer, -1 for none
    gdip::LazyPicture hoverImage;
    gdip::LazyPicture checkImage;
    int topMargin = kTopMargin;
    int rowHeight;
};

class Select : public Window {
public:
    static constexpr int kChanged = 10;  // command sent to the parent

    Select(int x, int y, int width, int height, SelectModel* model, Window* parent);
    ~Select() override;

    void Paint() override;
    void OnMouseMove(MouseEvent& event) override;
    void OnMouseLeave(MouseEvent& event) override;
    void OnClick(MouseEvent& event) override;
    void OnCommand(int code, int param) override;

    std::unique_ptr<SelectPopup> popup;
    SelectModel* model;  // borrowed
    gdip::GpFont* font;  // borrowed from the font cache
    gdip::LazyPicture arrowsImage{L"images/arrows.png"};
    gdip::LazyPicture upHoverImage{L"images/arrows_up_on.png"};
    gdip::LazyPicture downHoverImage{L"images/arrows_down_on.png"};
    bool upHover = false;
    bool downHover = false;

private:
    void SetHover(bool up, bool down);
};
