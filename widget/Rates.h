// The exchange-rates label in the lower part of the panel: the date of the
// rates and the dollar and euro rates, three texts that the rates feed
// writes into the panel. It takes no input: clicks on it reach the panel.
#pragma once

#include "ui/Window.h"

class Widget;

class Rates : public Window {
public:
    explicit Rates(Widget* owner);

    void Paint() override;

    Widget* owner;                     // borrowed; holds the texts
    gdip::GpFont* rateFont = nullptr;  // borrowed from the font cache
    gdip::GpFont* captionFont = nullptr;
    gdip::GpFont* currencyFont = nullptr;
};
