// Select and SelectPopup; see Select.h.
#include "ui/Select.h"

#include "gfx/Canvas.h"
#include "gfx/Palette.h"

namespace {

// Left of this x the Select is its text; right of it, the arrow pair.
constexpr int kArrowsLeft = 182;

}  // namespace

SelectPopup::SelectPopup(int x, int y, int width, int height, Window* owner,
                         gdip::GpFont* font, SelectModel* model)
    : Popup(x, y, width, height, owner),
      font(font),
      model(model),
      hoverImage(L"images/map-hover.png"),
      checkImage(L"images/check.png"),
      rowHeight(int(canvas ? canvas->FontHeight(font) : 0) + 3) {}

void SelectPopup::OnShow() {
    PlaceOverOwner();
    int count = int(model->items.size());
    y -= model->selected * rowHeight + topMargin;
    height = count * rowHeight + 2 * topMargin;
    UpdateRegion();
    hovered = model->selected;
    root->SetMouseCapture(this);
}

void SelectPopup::Paint() {
    canvas->FillRoundRect(0, 0, float(width), float(height), 4, 0xCE000000u);
    for (int i = 0; i < int(model->items.size()); ++i) {
        float rowTop = float(topMargin + i * rowHeight);
        canvas->DrawText(model->items[i].c_str(), font, palette::White, 17, rowTop + 1);
        if (i == model->selected)
            canvas->DrawImage(checkImage.get(), 5, rowTop + 3);
        if (i == hovered)
            canvas->DrawImage(hoverImage.get(), 0, rowTop);
    }
}

void SelectPopup::OnMouseMove(MouseEvent& event) {
    if (!HitTest(event.x, event.y)) {
        hovered = -1;
        Invalidate();
        return;
    }
    // The top margin counts as the first row.
    int row = rowHeight > 0 ? (event.y - topMargin) / rowHeight : -1;
    if (row < 0 || row >= int(model->items.size()) || row == hovered)
        return;
    hovered = row;
    Invalidate();
}

void SelectPopup::OnClick(MouseEvent&) {
    // A click that no row was under keeps the old choice.
    if (hovered >= 0 && hovered < int(model->items.size()))
        model->selected = hovered;
    root->ReleaseMouseCapture();
    owner->OnCommand(1, 0);
}

void SelectPopup::OnMouseDown(MouseEvent& event) {
    if (!HitTest(event.x, event.y))
        root->ReleaseMouseCapture();
}

void SelectPopup::OnCaptureLost() {
    Hide();
}

Select::Select(int x, int y, int width, int height, SelectModel* model, Window* parent)
    : Window(x, y, width, height, parent), model(model) {
    UpdateRegion();
    font = canvas ? canvas->GetFont(kRegularFamily, 13, FontBold) : nullptr;
    popup = std::make_unique<SelectPopup>(-10, 0, width + 10, height, this, font, model);
}

Select::~Select() {
    if (root->CaptureWindow() == popup.get())
        root->ReleaseMouseCapture();
    popup->Hide();
}

void Select::Paint() {
    int selected = model->selected;
    if (selected >= 0 && selected < int(model->items.size()))
        canvas->DrawText(model->items[selected].c_str(), font, palette::White, 7, 1);
    canvas->DrawImage(arrowsImage.get(), 186, 4);
    if (upHover)
        canvas->DrawImage(upHoverImage.get(), 186, 4);
    if (downHover)
        canvas->DrawImage(downHoverImage.get(), 186, 10);
}

void Select::SetHover(bool up, bool down) {
    if (up == upHover && down == downHover)
        return;
    upHover = up;
    downHover = down;
    Invalidate();
}

void Select::OnMouseMove(MouseEvent& event) {
    if (event.x <= kArrowsLeft)
        SetHover(false, false);
    else if (event.y < 10)
        SetHover(true, false);
    else
        SetHover(false, true);
}

void Select::OnMouseLeave(MouseEvent&) {
    SetHover(false, false);
}

void Select::OnClick(MouseEvent& event) {
    if (event.x <= kArrowsLeft) {
        popup->Show();
        return;
    }
    int last = int(model->items.size()) - 1;
    if (event.y < 11) {
        if (model->selected > 0)
            --model->selected;
    } else if (model->selected < last) {
        ++model->selected;
    }
    Invalidate();
    if (parent)
        parent->OnCommand(kChanged, 0);
}

void Select::OnCommand(int code, int) {
    if (code == 1 && parent)
        parent->OnCommand(kChanged, 0);
}
