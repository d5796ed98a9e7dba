// The two pages whose content ships with the program instead of coming from
// a feed: About (who made the widget, its version) and Club (the bank's
// client club: services, a product index with in-page anchors, the cards and
// products, the privilege programme and the partner discounts).
//
// The panel's constructor creates one builder of each; a builder describes
// its page as a layout model inside a Page named "About" or "Club" and hands
// it to the panel with DM_CONTENT through the desktop list view, as the
// feeds hand over theirs. The panel lays the page out and keeps it. The
// models point at the builders' font descriptions, so the panel keeps the
// builders as long as it keeps the pages. Window thread.
#pragma once

#include "layout/Model.h"
#include "viewer/Page.h"
#include "gfx/Palette.h"

#include <cstddef>
#include <memory>

class Window;

// Sends a page to a window of the tree through its list view (DM_CONTENT,
// kind 0). Answers whether the window took it; when nothing took it (no
// widget embedded, or it is closing) the page is destroyed here.
bool DeliverPage(Window* receiver, std::unique_ptr<Page> page);

class AboutPageBuilder {
public:
    explicit AboutPageBuilder(Window* receiver = nullptr) : receiver(receiver) {}
    AboutPageBuilder(const AboutPageBuilder&) = delete;  // the page's model points into it
    AboutPageBuilder& operator=(const AboutPageBuilder&) = delete;

    Window* receiver;  // borrowed: the panel, which receives the page
    FontSpec textFont{kRegularFamily, 12, FontRegular};
    FontSpec linkFont{kBoldFamily, 12, FontRegular};
    FontSpec linkHoverFont{kBoldFamily, 12, FontUnderline};
    FontSpec titleFont{kBoldFamily, 15, FontRegular};
};

// The About page, not yet delivered: a short text page without a header
// that does not scroll.
std::unique_ptr<Page> MakeAboutPage(const AboutPageBuilder& builder);

// Builds the About page and delivers it to the builder's receiver; answers
// whether the receiver took it.
bool BuildAboutPage(AboutPageBuilder& builder);

// A paragraph of marked-up text (links as <a href="...">...</a>) in the
// About page's fonts, 10 pixels below what precedes it, appended to root.
MParagraph* AddMarkupParagraph(const AboutPageBuilder& builder, MDiv& root, const wchar_t* text);

// One logo of the Club page's partner grids. The discount travels with the
// partner but the page does not show it: the partner's page on the bank's
// site states the current terms.
struct PartnerEntry {
    const wchar_t* imagePath;    // relative to the library's folder
    const wchar_t* description;  // the hint shown over the logo
    const wchar_t* discount;
    const wchar_t* link;         // the partner's page on the bank's site
};

class ClubPageBuilder {
public:
    // Sets the fonts and colours only; MakePage builds.
    ClubPageBuilder();
    // Builds the Club page under a copy of title and delivers it to the
    // receiver (the panel).
    ClubPageBuilder(Window* receiver, const wchar_t* title);
    ClubPageBuilder(const ClubPageBuilder&) = delete;  // the page's model points into it
    ClubPageBuilder& operator=(const ClubPageBuilder&) = delete;

    // The Club page under a copy of title, not yet delivered.
    std::unique_ptr<Page> MakePage(const wchar_t* title);

    // Section operations: each appends what it builds to content and
    // returns it.
    MParagraph* AddSectionTitle(const wchar_t* text);
    MList* AddBulletList(const wchar_t* first, const wchar_t* second, const wchar_t* third);
    MParagraph* AddBullet(const wchar_t* text);
    // "Подробнее на сайте банка", at the right.
    MParagraph* AddMoreLink(const wchar_t* url);
    // An icon and one link beside it, or two links one under the other.
    MColumns* AddProductRow(const wchar_t* iconPath, const wchar_t* firstName,
                            const wchar_t* firstTarget, const wchar_t* secondName = nullptr,
                            const wchar_t* secondTarget = nullptr);
    // A card's title, named for the product index's anchor, over its picture.
    MDiv* AddCardSection(const wchar_t* title, const wchar_t* imagePath, const wchar_t* anchor);
    // A product's icon and title in a row named for the product index's anchor.
    MColumns* AddProductSection(const wchar_t* iconPath, const wchar_t* title,
                                const wchar_t* anchor, float titleTop);
    MParagraph* AddGroupTitle(const wchar_t* text);
    // Partner logos, three to a row; the last row holds the rest.
    void AddPartnerGrid(const PartnerEntry* entries, size_t count);

    // Where the section operations append: the content block of the page
    // being built (borrowed from its model), null outside MakePage.
    MDiv* content = nullptr;
    std::unique_ptr<FontSpec> textFont;
    std::unique_ptr<FontSpec> groupTitleFont;
    std::unique_ptr<FontSpec> sectionTitleFont;
    std::unique_ptr<FontSpec> moreLinkFont;
    std::unique_ptr<FontSpec> productLinkFont;
    gdip::ARGB textColor;
    gdip::ARGB moreLinkColor;
    gdip::ARGB productLinkColor;
};
