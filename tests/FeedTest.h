// The fixture of the feed tests: a window tree whose list view hands
// deliveries over as the desktop surface does, and a panel of the test's own
// kind on it for the feeds to deliver to.
#pragma once

#include "FeedHarness.h"
#include "ServedFiles.h"
#include "TestTree.h"

#include <memory>
#include <string>

// The folder of that name beside the library, made if need be, without
// the files that match; its path, with the backslash.
inline std::wstring EmptyFolder(const wchar_t* name, const wchar_t* files = L"*") {
    const std::wstring folder = ProgramFolder() + name + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& file : Listing(folder + files))
        DeleteFileW((folder + file).c_str());
    return folder;
}

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
