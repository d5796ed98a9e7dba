// GoogleTest entry for the Windows test programs: the library's code looks
// for its own module when it resolves paths, which here is the program.
#include "host/HostBridge.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    Bridge().module = GetModuleHandleW(nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
