// The widget panel; see Widget.h.
#include "widget/Widget.h"

#include "stats/EventListener.h"
#include "ui/Canvas.h"
#include "widget/SamplePages.h"

namespace {

// Default placement: near the top right corner of the desktop.
constexpr int kRightMargin = 390;
constexpr int kTop = 93;

}  // namespace

Widget::Widget(Window* root)
    : Window(root->width - kRightMargin, kTop, kWidth, kHeight, root) {
    UpdateRegion();
    if (canvas) {
        canvas->AddPrivateFont(L"fonts/PTSans Bold.ttf");
        canvas->AddPrivateFont(L"fonts/PTSans Regular.ttf");
    }
    background = gdip::LoadPicture(L"images/fon_1.png");
    closeButton = std::make_unique<Button>(290, 15, 11, 13, 1, 0, L"images/cross_on.png",
                                           nullptr, this);
    navigator = std::make_unique<Navigator>(19, 94, 280, 297, this);
    navigator->Show();
    if (canvas) {
        pages.push_back(samples::ArticleList(40));
        layoutPage(*pages.back(), *canvas);
        navigator->ShowPage(pages.back().get());
    }
    cityModel.items = {L"Москва", L"Санкт-Петербург", L"Екатеринбург", L"Казань",
                       L"Новосибирск"};
    // On the dark strip beside the Friday tab: the News tab's content area is
    // white, and the selector writes in white.
    citySelect = std::make_unique<Select>(110, 410, 200, 21, &cityModel, this);
    citySelect->Show();
}

Widget::~Widget() {
    navigator->ShowPage(nullptr);
    navigator->Hide();
    citySelect->Hide();
    closeButton->Hide();
}

void Widget::Paint() {
    canvas->DrawImage(background.get(), 0, 0);
}

void Widget::OnCommand(int code, int /*param*/) {
    if (code != 1)
        return;
    if (attached) {
        // An open city list belongs to the root: close it with the panel.
        if (CaptureWindow() == citySelect->popup.get())
            ReleaseMouseCapture();
        Hide();
        BroadcastEvent(WidgetHidden, 0);
    } else {
        Show();
        BroadcastEvent(WidgetShown, 0);
    }
}
