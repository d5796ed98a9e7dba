// Benchmark: layout of a 200-article page and of a page of 30 paragraphs
// with links, painting a full page viewer of each, finding the element under
// one mouse move over the 200-article scene, and one smooth-scroll tick.
// Prints medians; asserts nothing.
#include "Bench.h"
#include "TestDesktop.h"
#include "host/DesktopSurface.h"
#include "base/Desktop.h"
#include "ui/Window.h"
#include "layout/TextFormatter.h"
#include "gfx/Canvas.h"
#include "viewer/Navigator.h"
#include "gallery/SamplePages.h"

#include <cstdio>
#include <utility>

namespace {

const FontSpec kBody{L"PT Sans", 13, 0};
const FontSpec kHover{L"PT Sans", 13, 4};

std::unique_ptr<Page> Paragraphs(int count) {
    auto root = std::make_unique<MDiv>();
    root->rect.width = kPageWidth;
    for (int i = 0; i < count; ++i) {
        auto paragraph = std::make_unique<MParagraph>();
        paragraph->padding = Padding{6, 6, 4, 4};
        addMarkup(L"Банк Orvella открыл новый офис: теперь клиенты могут оформить карту, "
                  L"вклад или кредит рядом с домом. <a href=\"http://orvella.example/\">Адреса "
                  L"и часы работы</a> — на сайте банка, а также в мобильном приложении.",
                  *paragraph, &kBody, &kBody, &kHover, 0xFF000000u, 0xFFCC0000u, 0xFF000000u);
        root->add(std::move(paragraph));
    }
    auto page = std::make_unique<Page>();
    page->name = L"Paragraphs";
    page->model = std::move(root);
    page->scrollable = true;
    return page;
}

}  // namespace

int main() {
    TestDesktop desktop(400, 500);
    SetDesktopListView(desktop.listView);
    Canvas canvas(desktop.listView);
    canvas.AddShippedFonts();

    std::printf("layout 200-article page: median %.2f ms\n",
                MedianMs(9, [&](int) { layoutPage(*samples::ArticleList(200), canvas); }));
    std::printf("layout 30 paragraphs with links: median %.2f ms\n",
                MedianMs(9, [&](int) { layoutPage(*Paragraphs(30), canvas); }));

    auto articles = samples::ArticleList(200);
    layoutPage(*articles, canvas);
    auto paragraphs = Paragraphs(30);
    layoutPage(*paragraphs, canvas);
    RootWindow root(400, 500, &canvas, desktop.listView);
    Navigator viewer(19, 94, 280, 297, &root);
    viewer.Show();
    for (auto [shown, page] : {std::pair{"200-article", articles.get()},
                               std::pair{"30-paragraph", paragraphs.get()}}) {
        viewer.ShowPage(page);
        std::printf("paint viewer, %s page: median %.3f ms\n", shown,
                    MedianMs(50, [&](int) { root.PaintTree(0, 0, 400, 500); }));
    }
    viewer.ShowPage(articles.get());
    std::printf("findAt under one mouse move, 200-article scene: median %.5f ms\n",
                MedianMs(2000, [&](int i) {
                    findAt(*articles->scene, 40 + i % 200, 1000 + i % 250, SceneLink);
                }));
    std::printf("one smooth-scroll tick: median %.5f ms\n", MedianMs(200, [&](int) {
                    viewer.pendingScroll = 500;
                    viewer.OnTimer(Navigator::kScrollTimer);
                }));
    viewer.ShowPage(nullptr);
    viewer.Hide();
    return 0;
}
