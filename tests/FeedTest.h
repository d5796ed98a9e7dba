// The fixture of the feed tests: a window tree whose list view hands
// deliveries over as the desktop surface does, and a panel of the test's own
// kind on it for the feeds to deliver to.
#pragma once

#include "FeedHarness.h"
#include "TestTree.h"

#include <memory>

template <class Panel = RecordingPanel>
class FeedTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        SetClosingRequested(false);
        delivering = std::make_unique<DeliveringListView>(desktop.listView);
        panel = std::make_unique<Panel>(0, 0, 10, 10, root.get());
    }
    void Forget() override {
        panel.reset();
        delivering.reset();
    }

    std::unique_ptr<DeliveringListView> delivering;
    std::unique_ptr<Panel> panel;
};
