// Every picture the widget names is installed beside the library, loads and
// has the size the panel's layout was drawn for.
#include "TestDesktop.h"
#include "gfx/GdiPlus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace {

using namespace gdip;

TEST(Pictures, EveryListedPictureLoadsAtItsSize) {
    const Session gdiplus;  // its pictures go first
    // One picture a line: its name under images/, its width and height.
    std::ifstream manifest(std::filesystem::path(ProgramFolder() + L"picture_manifest.txt"));
    ASSERT_TRUE(manifest) << "picture_manifest.txt is missing beside the test";
    // A screen's scale and the factor of the drawing taken for it.
    const std::pair<float, float> factors[] = {{1, 1}, {1.25f, 1.5f}, {1.5f, 1.5f}, {2, 2}, {3, 2}};
    std::string name;
    UINT width = 0, height = 0;
    int count = 0;
    for (; manifest >> name >> width >> height; ++count) {
        std::wstring path = L"images/" + std::wstring(name.begin(), name.end());
        // The picture itself, its pixels its size, and its drawings for
        // scaled screens: more pixels, the same size.
        for (const auto& [scale, factor] : factors) {
            SetPictureScale(scale);
            ImagePtr drawing = LoadScaledPicture(path.c_str());
            ASSERT_TRUE(drawing) << name << " does not load at " << scale;
            EXPECT_EQ(PictureFactor(drawing.get()), factor) << name;
            float designWidth = 0, designHeight = 0;
            PictureSize(drawing.get(), designWidth, designHeight);
            EXPECT_EQ(std::make_pair(designWidth, designHeight),
                      std::make_pair(float(width), float(height)))
                << name << " at " << scale;
        }
        SetPictureScale(1);
    }
    EXPECT_TRUE(manifest.eof()) << "a line of the manifest does not read after " << name;
    EXPECT_GT(count, 30);
}

}  // namespace
