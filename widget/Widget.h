// The widget panel: a 318 x 468 window of the tree, child of the root.
//
// For now it paints the News tab's background with the shipped fonts
// loaded, has a working close button and a city selector filled with a few
// names, and answers the show/hide command; the tabs, pages, header and the
// content machinery join it later.
#pragma once

#include "ui/Button.h"
#include "ui/Select.h"

#include <memory>

class Widget : public Window {
public:
    static constexpr int kWidth = 318;
    static constexpr int kHeight = 468;

    explicit Widget(Window* root);
    ~Widget() override;

    void Paint() override;
    // Code 1 (close button, DM_TOGGLE): hide the panel, or show it again.
    void OnCommand(int code, int param) override;

    gdip::ImagePtr background;
    std::unique_ptr<Button> closeButton;
    SelectModel cityModel;
    std::unique_ptr<Select> citySelect;
};
