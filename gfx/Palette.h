// The panel's colours and type faces: the colours that more than one place
// draws with, the two families that pages and controls ask for, and the font
// files that ship beside the library. Colours are 32-bit ARGB.
#pragma once

#include <cstdint>

namespace palette {

constexpr uint32_t Black = 0xFF000000u;
constexpr uint32_t White = 0xFFFFFFFFu;
constexpr uint32_t Red = 0xFFCC0000u;   // the bank's accent: links, numbers
constexpr uint32_t Grey = 0xFFA9A2B4u;  // captions and dates on the dark chrome

}  // namespace palette

constexpr wchar_t kRegularFamily[] = L"PT Sans";
// Not a family of the shipped files but the bold face of kRegularFamily, as
// the pages name it; the font cache resolves it.
constexpr wchar_t kBoldFamily[] = L"PT Sans Bold";
constexpr const wchar_t* kShippedFontFiles[] = {L"fonts/PTSans Regular.ttf",
                                                L"fonts/PTSans Bold.ttf"};
