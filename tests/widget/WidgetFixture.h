// A panel on a small window tree, with the panel's registry key removed
// before it is made and after it goes (it saves its settings as it goes).
#pragma once

#include "TestTree.h"
#include "base/WidgetKey.h"
#include "widget/Widget.h"

#include <memory>

class WidgetTreeTest : public TreeTest {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kWidgetKeyPath);
        TreeTest::SetUp();
        BeforePanel();
        widget = std::make_unique<Widget>(root.get());
        if (shown)
            widget->Show();
    }
    void TearDown() override {
        TreeTest::TearDown();
        RegDeleteTreeW(HKEY_CURRENT_USER, kWidgetKeyPath);
    }
    void Forget() override {
        widget->Hide();
        widget.reset();
    }
    // What a test needs in place on the tree before the panel is made.
    virtual void BeforePanel() {}

    bool shown = true;  // whether the panel is shown on the root, set before SetUp
    std::unique_ptr<Widget> widget;
};
