// The widget panel: a 318 x 468 window of the tree, child of the root.
//
// For now it paints the News tab's background with the shipped fonts
// loaded, shows a sample page of articles in its content area, has a working
// close button and a city selector filled with a few names, and answers the
// show/hide command; the tabs, header and the content machinery join it
// later.
#pragma once

#include "ui/Button.h"
#include "ui/Navigator.h"
#include "ui/Select.h"

#include <memory>
#include <vector>

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
    std::unique_ptr<Navigator> navigator;
    std::vector<std::unique_ptr<Page>> pages;
    SelectModel cityModel;
    std::unique_ptr<Select> citySelect;
};
