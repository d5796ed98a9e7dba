// The scale the panel is drawn at: the list view's pixels per pixel of the
// design, which is drawn for a 96-dpi screen (100 %).
//
// The shell is aware of each screen's scale where Windows offers that
// (8.1 and later): its desktop then takes the scale of the screen a window
// of it stands on, so the panel takes that of the screen under its centre.
// A process aware of the system's scale alone gets that one, and one aware
// of none 96 dpi (Windows stretches what it draws). Every call here is
// looked up at run time: older systems lack them and answer the system's
// dpi. Window thread.
#pragma once

#include <windows.h>

// From 1 (96 dpi and below) to 2 (192 dpi and above): a larger scale would
// take more memory than the panel's budgets allow, for pictures drawn at 2x
// at most.
float ScaleOfDpi(unsigned dpi);

// Whether the window's dpi is that of the screen it is on, which changes
// when it moves to another.
bool DpiFollowsScreen(HWND window);

// The dpi the panel is drawn at on the window: that of the screen holding
// the point (screen coordinates) where it follows the screen, the window's
// own otherwise.
unsigned PanelDpi(HWND window, POINT centre);
