// The owner of one attached widget; see Embedding.h.
#include "host/Embedding.h"

#include "host/DisplayScale.h"

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
      listView_(listView) {
    // At the list view's scale first, for the panel to find its saved place
    // at; then at that of the screen the place lies on.
    RECT client = ClientRect(listView);
    POINT middle{client.right / 2, client.bottom / 2};
    ClientToScreen(listView, &middle);
    root.Fit(client.right, client.bottom, ScaleOfDpi(PanelDpi(listView, middle)));
    this->client = SIZE{client.right, client.bottom};
    widget = std::make_unique<Widget>(&root);
    FitToDisplay();
    widget->Show();
    // Its thread builds the feeds' first pages from their caches.
    worker = std::make_unique<Worker>(widget.get(), widget->statistics);
}

void Embedding::FitToDisplay(unsigned dpi) {
    const RECT area = ClientRect(listView_);
    float scale = ScaleOfDpi(dpi);
    if (dpi == 0) {
        // The panel's centre, in screen coordinates.
        POINT centre{area.right / 2, area.bottom / 2};
        if (widget) {
            const float now = root.scale();
            centre = POINT{LONG((widget->x + widget->width / 2) * now),
                           LONG((widget->y + widget->height / 2) * now)};
        }
        ClientToScreen(listView_, &centre);
        scale = ScaleOfDpi(PanelDpi(listView_, centre));
    }
    if (scale == root.scale() && area.right == client.cx && area.bottom == client.cy)
        return;
    client = SIZE{area.right, area.bottom};
    root.Fit(area.right, area.bottom, scale);
}

Embedding::~Embedding() {
    worker.reset();
    // The holder hears that it lost the capture while it still exists.
    if (root.CaptureWindow())
        root.ReleaseMouseCapture();
}
