// Benchmark: cache hits of AcquireImage and GetFont, one DrawText of a
// 40-character run, one FillRoundRect, and a repaint of a 318 x 468 window
// drawing its background picture and ten text runs. Prints medians; asserts
// nothing.
#include "Bench.h"
#include "TestDesktop.h"
#include "gfx/Canvas.h"

#include <cstdio>

int main() {
    TestDesktop desktop(400, 500);
    Canvas canvas(desktop.listView);
    canvas.AddShippedFonts();

    ImageUse background = canvas.AcquireImage(L"images/fon_1.png");
    for (int i = 0; i < 30; ++i)
        canvas.AcquireImage(L"images/check.png");
    ImageUse arrows = canvas.AcquireImage(L"images/arrows.png");
    std::printf("AcquireImage cache hit (with release): median %.5f ms\n",
                MedianMs(20000, [&](int) { canvas.AcquireImage(L"images/fon_1.png"); }));
    canvas.GetFont(L"PT Sans", 11, 0);
    canvas.GetFont(L"PT Sans Bold", 13, 0);
    gdip::GpFont* font = canvas.GetFont(L"PT Sans", 13, 0);
    std::printf("GetFont cache hit: median %.5f ms\n",
                MedianMs(20000, [&](int) { canvas.GetFont(L"PT Sans", 13, 0); }));

    const wchar_t* run = L"Курс ЦБ на 6 декабря: доллар 92,41 руб.";
    std::printf("DrawText of a 40-character run: median %.3f ms\n",
                MedianMs(500, [&](int) { canvas.DrawText(run, font, 0xFF000000u, 10, 10); }));
    std::printf("FillRoundRect 200x120: median %.3f ms\n", MedianMs(500, [&](int) {
                    canvas.FillRoundRect(10, 10, 200, 120, 4, 0xCE000000u);
                }));
    std::printf("repaint 318x468: background and ten text runs: median %.3f ms\n",
                MedianMs(200, [&](int) {
                    canvas.DrawImage(background.get(), 0, 0);
                    for (int line = 0; line < 10; ++line)
                        canvas.DrawText(run, font, 0xFF000000u, 25, 100.0f + line * 20);
                    gdip::GdipFlush(canvas.graphics.get(), gdip::FlushIntentionSync);
                }));
    return 0;
}
