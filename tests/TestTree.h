// A window tree on a real surface, for tests of windows and controls: a
// small in-process desktop list view, a Canvas on it and a root covering it.
// Input is routed as the desktop surface routes the list view's messages.
#pragma once

#include "TestDesktop.h"
#include "gfx/Canvas.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <memory>

class TreeTest : public testing::Test {
protected:
    void SetUp() override {
        SetDesktopListView(desktop.listView);
        canvasOwner = std::make_unique<Canvas>(desktop.listView);
        canvas = canvasOwner.get();
        root = std::make_unique<RootWindow>(400, 300, canvas, desktop.listView);
    }
    void TearDown() override {
        root->ReleaseMouseCapture();
        Forget();
        root.reset();
        canvasOwner.reset();
        SetDesktopListView(nullptr);
    }
    // Deletes what the test built on the root, before the root goes.
    virtual void Forget() {}

    bool Press(int x, int y) { return root->RouteButton(1, true, x, y, MK_LBUTTON); }
    bool Release(int x, int y) { return root->RouteButton(1, false, x, y, 0); }
    bool Move(int x, int y) { return root->RouteMove(x, y, 0); }
    void Click(int x, int y) {
        Move(x, y);
        Press(x, y);
        Release(x, y);
    }
    // Clears the canvas to one colour and paints the whole tree on it.
    void Repaint(COLORREF clear = RGB(0, 0, 0)) {
        RECT all{0, 0, 400, 300};
        HBRUSH brush = CreateSolidBrush(clear);
        FillRect(canvas->memoryDC(), &all, brush);
        DeleteObject(brush);
        root->PaintTree(0, 0, 400, 300);
    }
    // A pixel of the canvas, as 0xRRGGBB.
    unsigned Pixel(int x, int y) { return PixelAt(canvas->memoryDC(), x, y); }

    TestDesktop desktop{400, 300};
    std::unique_ptr<Canvas> canvasOwner;
    Canvas* canvas = nullptr;
    std::unique_ptr<RootWindow> root;
};
