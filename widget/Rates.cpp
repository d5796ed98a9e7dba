// Rates; see Rates.h.
#include "widget/Rates.h"

#include "gfx/Canvas.h"
#include "widget/Widget.h"
#include "gfx/Palette.h"


// Tall enough for the euro line's glyphs, which reach 44 pixels down: what
// a window draws past its rectangle is not repainted when it alone changes.
Rates::Rates(Widget* owner) : Window(117, 399, 70, 46, owner), owner(owner) {
    UpdateRegion();
    if (canvas) {
        rateFont = canvas->GetFont(kBoldFamily, 9, FontRegular);
        captionFont = canvas->GetFont(kRegularFamily, 9, FontRegular);
        currencyFont = canvas->GetFont(kBoldFamily, 11, FontRegular);
    }
    mouseTransparent = true;
}

void Rates::Paint() {
    const RatesRecord& texts = owner->ratesTexts;
    canvas->DrawText(texts.caption, captionFont, palette::Grey, 0, 0);
    canvas->DrawText(L"$", currencyFont, palette::White, 8, 13);
    canvas->DrawText(texts.dollar, rateFont, palette::White, 18, 15);
    canvas->DrawText(L"\u20AC", currencyFont, palette::White, 8, 28);
    canvas->DrawText(texts.euro, rateFont, palette::White, 18, 30);
}
