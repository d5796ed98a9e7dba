// A window tree on a real surface, for tests of windows and controls: a
// small in-process desktop list view, a Canvas on it registered as the
// current desktop instance's, and a root covering it. Input is routed as the
// desktop surface routes the list view's messages.
#pragma once

#include "TestDesktop.h"
#include "host/DesktopSurface.h"
#include "host/HostBridge.h"
#include "ui/Canvas.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <memory>

class TreeTest : public testing::Test {
protected:
    void SetUp() override {
        Bridge().listView = desktop.listView;
        instance.listView = desktop.listView;
        instance.canvas = std::make_unique<Canvas>(desktop.listView);
        Bridge().instance = &instance;
        canvas = instance.canvas.get();
        root = std::make_unique<Window>(0, 0, 400, 300, nullptr);
    }
    void TearDown() override {
        ReleaseMouseCapture();
        Forget();
        root.reset();
        instance.canvas.reset();
        Bridge().instance = nullptr;
        Bridge().listView = nullptr;
    }
    // Deletes what the test built on the root, before the root goes.
    virtual void Forget() {}

    bool Press(int x, int y) { return RouteButton(root.get(), 1, true, x, y, MK_LBUTTON); }
    bool Release(int x, int y) { return RouteButton(root.get(), 1, false, x, y, 0); }
    bool Move(int x, int y) { return RouteMove(root.get(), x, y, 0); }
    void Click(int x, int y) {
        Move(x, y);
        Press(x, y);
        Release(x, y);
    }

    TestDesktop desktop{400, 300};
    DesktopInstance instance;
    Canvas* canvas = nullptr;
    std::unique_ptr<Window> root;
};
