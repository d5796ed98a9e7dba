// GoogleTest entry for the Windows test programs.
#include "base/Threads.h"
#include "widget/Widget.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // A window tree touched from another thread fails whichever test did it;
    // a test that means to make the call sets a handler of its own.
    wrongThreadHandler = [](const char* what) {
        ADD_FAILURE() << what << " was called off the window tree's thread";
    };
    // Pages are laid out whole where they are first asked for; the tests of
    // layout in slices ask for slices themselves.
    Widget::layoutSlice = std::chrono::hours(1);
    return RUN_ALL_TESTS();
}
