// Rates; see Rates.h.
#include "widget/Rates.h"

#include "ui/Canvas.h"
#include "widget/Widget.h"

#include <cwchar>

namespace {

constexpr gdip::ARGB kCaptionColour = 0xFFA9A2B4u;
constexpr gdip::ARGB kWhite = 0xFFFFFFFFu;

}  // namespace

Rates::Rates(Widget* owner) : Window(117, 399, 70, 37, owner), owner(owner) {
    UpdateRegion();
    if (canvas) {
        rateFont = canvas->GetFont(L"PT Sans Bold", 9, 0);
        captionFont = canvas->GetFont(L"PT Sans", 9, 0);
        currencyFont = canvas->GetFont(L"PT Sans Bold", 11, 0);
    }
    mouseTransparent = true;
}

void Rates::Paint() {
    // The worker may be writing new rates: take a consistent copy first.
    wchar_t caption[40], dollar[10], euro[10];
    {
        std::lock_guard<std::mutex> lock(owner->ratesLock);
        wcscpy(caption, owner->ratesCaption);
        wcscpy(dollar, owner->dollarRate);
        wcscpy(euro, owner->euroRate);
    }
    canvas->DrawText(caption, captionFont, kCaptionColour, 0, 0);
    canvas->DrawText(L"$", currencyFont, kWhite, 8, 13);
    canvas->DrawText(dollar, rateFont, kWhite, 18, 15);
    canvas->DrawText(L"\u20AC", currencyFont, kWhite, 8, 28);
    canvas->DrawText(euro, rateFont, kWhite, 18, 30);
}
