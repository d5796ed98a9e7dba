// An invisible hot area that shows a highlight picture while the pointer is
// over it and reports clicks to its parent with its command code and param.
// Buttons of one group share a slot naming the group's selected button,
// which shows no highlight until another button of the group is clicked.
#pragma once

#include "ui/Window.h"

class Button : public Window {
public:
    // Shows itself in the parent at once. image: relative to the library's
    // folder, or null for none.
    Button(int x, int y, int width, int height, int commandCode, int commandParam,
           const wchar_t* image, Button** group, Window* parent);

    void Paint() override;
    void OnMouseEnter(MouseEvent& event) override;
    void OnMouseLeave(MouseEvent& event) override;
    void OnClick(MouseEvent& event) override;

    gdip::LazyPicture image;  // highlight, null when there is none
    int commandCode;
    int commandParam;
    // Sent to the parent with commandParam when the pointer comes over the
    // button, ahead of a likely click; 0 for none.
    int enterCommand = 0;
    bool hover = false;
    Button** group;  // borrowed slot holding the group's selected button, or null

private:
    bool SelectedInGroup() const { return group && *group == this; }
};

// Shows one of the system cursors by its resource number.
void ShowSystemCursor(const wchar_t* id);
