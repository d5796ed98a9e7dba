// The widget panel: a 318 x 468 window of the tree, child of the root.
//
// For now it paints a plain panel with a header strip and three tiles that
// change colour when clicked, and answers the show/hide command; the tabs,
// pages, header and the content machinery join it later.
#pragma once

#include "ui/Window.h"

#include <array>
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

private:
    std::array<std::unique_ptr<Window>, 3> tiles_;  // owned
};
