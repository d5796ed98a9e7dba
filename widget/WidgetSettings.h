// The panel's saved state (position, tab, radio volume) and installation
// identity, kept as values of the widget's registry key (base/WidgetKey.h).
//
// The panel loads its settings once in its constructor, after its children
// exist, and saves them once in its destructor; both run on the window
// thread. The identity is made on first demand by the usage report builder,
// its only caller, then cached in the panel's uid and read back from the
// registry at every later start. The key is opened for each operation and
// closed right after; when it cannot be opened every read counts as missing
// and writes are lost, silently.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

class Widget;

// Position, tab and volume from the registry, or their defaults; marks the
// saved tab's button as the selected one of the tab group. The position is
// brought wholly inside the parent (the top-left corner when the parent is
// the smaller), the tab and volume into their ranges.
void LoadWidgetSettings(Widget& widget);
// The tab saved at the last exit, or the first for a value we never write.
int SavedTab();
// Writes position (never below 0), tab and volume (whole percent).
void SaveWidgetSettings(const Widget& widget);
// The identity text: 32 lowercase hexadecimal digits, terminated; points into
// widget.uid. Empty only if the system cannot compute a digest.
const char* GetWidgetUID(Widget& widget);

// Pieces of making an identity.
// MD5 of the bytes as 32 lowercase hexadecimal digits; empty when the
// system's cryptography provider fails.
std::string Md5Hex(const void* data, size_t size);
// The text an identity is the digest of: the computer's name followed by the
// UTC time, "%i%i%i %i%i%i %i" of year, month, day, hour, minute, second and
// milliseconds ("PC" at 2026-12-05 05:04:07.045 gives "PC2026125 547 45").
std::string IdentitySource(const char* computerName, const SYSTEMTIME& utc);
