// Shared by the layout tests: a canvas with the shipped fonts, the font
// descriptions builders use, and a test picture of a chosen size.
#pragma once

#include "TestTree.h"
#include "layout/Model.h"
#include "layout/TextFormatter.h"

#include <string>

class LayoutTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        canvas->AddShippedFonts();
    }
    void TearDown() override {
        for (const std::wstring& picture : pictures_)
            DeleteFileW((ProgramFolder() + picture).c_str());
        TreeTest::TearDown();
    }

    // A picture beside the test program, by its relative name.
    std::wstring Picture(int width, int height) {
        std::wstring name = L"layout_test_" + std::to_wstring(width) + L"x" +
                            std::to_wstring(height) + L".bmp";
        WriteTestBitmap(ProgramFolder() + name, width, height, 0x3366CC);
        pictures_.push_back(name);
        return name;
    }
    float LineHeight(const FontSpec& spec) {
        return float(int(canvas->FontHeight(ResolveFont(*canvas, &spec))));
    }
    float Width(const wchar_t* text, const FontSpec& spec) {
        return canvas->MeasureText(text, ResolveFont(*canvas, &spec), 1000, 100).Width - 2;
    }

    FontSpec body{L"PT Sans", 13, 0};
    FontSpec large{L"PT Sans", 22, 0};
    FontSpec bold{L"PT Sans Bold", 13, 0};

private:
    std::vector<std::wstring> pictures_;
};
