// The owner of one attached widget; see Embedding.h.
#include "host/Embedding.h"

#include "widget/Widget.h"
#include "widget/Worker.h"

namespace {

RECT ClientRect(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return client;
}

}  // namespace

Embedding::Embedding(HWND listView)
    : canvas(listView, /*writeAhead=*/true),
      root(ClientRect(listView).right, ClientRect(listView).bottom, &canvas, listView),
      widget(std::make_unique<Widget>(&root)) {
    widget->Show();
    // Its thread builds the feeds' first pages from their caches.
    worker = std::make_unique<Worker>(widget.get(), widget->statistics);
}

Embedding::~Embedding() {
    worker.reset();
    // The holder hears that it lost the capture while it still exists.
    if (root.CaptureWindow())
        root.ReleaseMouseCapture();
}
