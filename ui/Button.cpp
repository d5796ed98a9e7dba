// Button; see Button.h.
#include "ui/Button.h"

#include "gfx/Canvas.h"

void ShowSystemCursor(const wchar_t* id) {
    SetCursor(LoadCursorW(nullptr, id));
}

Button::Button(int x, int y, int width, int height, int commandCode, int commandParam,
               const wchar_t* imagePath, Button** group, Window* parent)
    : Window(x, y, width, height, parent),
      image(imagePath),
      commandCode(commandCode),
      commandParam(commandParam),
      group(group) {
    UpdateRegion();
    Show();
}

void Button::Paint() {
    if (hover)
        canvas->DrawImage(image.get(), 0, 0);
}

void Button::OnMouseEnter(MouseEvent&) {
    if (SelectedInGroup())
        return;
    if (enterCommand && parent)
        parent->OnCommand(enterCommand, commandParam);
    hover = true;
    Invalidate();
    ShowSystemCursor(IDC_HAND);
}

void Button::OnMouseLeave(MouseEvent&) {
    if (SelectedInGroup())
        return;
    if (hover) {
        Invalidate();
        hover = false;
    }
    ShowSystemCursor(IDC_ARROW);
}

void Button::OnClick(MouseEvent&) {
    if (parent)
        parent->OnCommand(commandCode, commandParam);
    if (group) {
        if (*group)
            (*group)->Invalidate();
        *group = this;
    }
    hover = false;
    ShowSystemCursor(IDC_ARROW);
}
