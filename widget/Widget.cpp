// The widget panel; see Widget.h.
#include "widget/Widget.h"

#include "stats/EventListener.h"
#include "ui/Canvas.h"

namespace {

constexpr gdip::ARGB kPanelColour = 0xFF1F3A5Fu;
constexpr gdip::ARGB kHeaderColour = 0xFF10233Bu;
constexpr gdip::ARGB kTileColours[2] = {0xFFF2F4F7u, 0xFFE8A33Du};

// Default placement: near the top right corner of the desktop.
constexpr int kRightMargin = 390;
constexpr int kTop = 93;

// A square that toggles between two colours on every click.
class Tile : public Window {
public:
    Tile(int x, int y, Window* parent) : Window(x, y, 86, 86, parent) { UpdateRegion(); }

    void Paint() override {
        canvas->FillRect(0, 0, float(width), float(height), kTileColours[lit_ ? 1 : 0]);
    }
    void OnClick(MouseEvent&) override {
        lit_ = !lit_;
        Invalidate();
    }

private:
    bool lit_ = false;
};

}  // namespace

Widget::Widget(Window* root)
    : Window(root->width - kRightMargin, kTop, kWidth, kHeight, root) {
    for (size_t i = 0; i < tiles_.size(); ++i) {
        tiles_[i] = std::make_unique<Tile>(15 + int(i) * 100, 140, this);
        tiles_[i]->Show();
    }
    UpdateRegion();
}

Widget::~Widget() {
    for (auto& tile : tiles_)
        tile->Hide();
}

void Widget::Paint() {
    canvas->FillRect(0, 0, float(width), float(height), kPanelColour);
    canvas->FillRect(0, 0, float(width), 40, kHeaderColour);
}

void Widget::OnCommand(int code, int /*param*/) {
    if (code != 1)
        return;
    if (attached) {
        Hide();
        BroadcastEvent(WidgetHidden, 0);
    } else {
        Show();
        BroadcastEvent(WidgetShown, 0);
    }
}
