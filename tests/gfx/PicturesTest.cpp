// Every picture the widget names is installed beside the library, loads and
// has the size the panel's layout was drawn for.
#include "TestDesktop.h"
#include "gfx/GdiPlus.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace gdip;

TEST(Pictures, EveryListedPictureLoadsAtItsSize) {
    ULONG_PTR token = 0;
    GdiplusStartupInput input;
    GdiplusStartup(&token, &input, nullptr);
    {
        std::unique_ptr<FILE, int (*)(FILE*)> manifest(
            _wfopen((ProgramFolder() + L"picture_manifest.txt").c_str(), L"r"), fclose);
        ASSERT_TRUE(manifest) << "picture_manifest.txt is missing beside the test";
        char line[512];
        int count = 0;
        while (std::fgets(line, sizeof(line), manifest.get())) {
            std::istringstream fields(line);
            std::string name;
            UINT width = 0, height = 0;
            if (!(fields >> name >> width >> height))
                continue;
            ++count;
            std::wstring path = L"images/" + std::wstring(name.begin(), name.end());
            ImagePtr image = LoadPicture(path.c_str());
            ASSERT_TRUE(image) << name << " does not load";
            UINT w = 0, h = 0;
            GdipGetImageWidth(image.get(), &w);
            GdipGetImageHeight(image.get(), &h);
            EXPECT_EQ(w, width) << name;
            EXPECT_EQ(h, height) << name;
            // Its drawings for scaled screens: more pixels, the same size.
            for (float scale : {1.25f, 1.5f, 2.0f, 3.0f}) {
                SetPictureScale(scale);
                ImagePtr drawing = LoadScaledPicture(path.c_str());
                ASSERT_TRUE(drawing) << name << " at " << scale;
                EXPECT_EQ(PictureFactor(drawing.get()), scale <= 1.5f ? 1.5f : 2.0f) << name;
                float designWidth = 0, designHeight = 0;
                PictureSize(drawing.get(), designWidth, designHeight);
                EXPECT_EQ(designWidth, float(width)) << name << " at " << scale;
                EXPECT_EQ(designHeight, float(height)) << name << " at " << scale;
            }
            SetPictureScale(1);
        }
        EXPECT_GT(count, 30);
    }
    GdiplusShutdown(token);
}

}  // namespace
