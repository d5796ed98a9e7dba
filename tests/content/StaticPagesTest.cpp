// The About and Club pages, laid out with the shipped fonts and pictures, and
// their delivery to the panel through the desktop list view.
#include "content/StaticPages.h"
#include "host/DesktopSurface.h"
#include "layout/LayoutFixture.h"
#include "widget/Widget.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& start) {
    return text.compare(0, start.size(), start) == 0;
}

// A scene element with its rectangle in the page's coordinates.
struct Placed {
    const SElement* element;
    FloatRect rect;
    std::wstring text;     // of texts and links
    std::wstring url;      // of links and buttons
    bool written = false;  // a text or a link
    bool picture = false;  // an image or a button
};

void Flatten(const SContainer& container, float x, float y, std::vector<Placed>& out) {
    for (const auto& child : container.children) {
        const FloatRect& r = child->rect;
        Placed p{child.get(), FloatRect{r.x + x, r.y + y, r.width, r.height}, L"", L""};
        if (auto* text = dynamic_cast<const SText*>(child.get()))
            p.text = text->text, p.written = true;
        if (auto* link = dynamic_cast<const SLink*>(child.get()))
            p.text = link->text, p.url = link->url, p.written = true;
        if (auto* button = dynamic_cast<const SButton*>(child.get()))
            p.url = button->link.value_or(L""), p.picture = true;
        p.picture |= child->kind == SceneImage;
        out.push_back(p);
        if (auto* inner = dynamic_cast<const SContainer*>(child.get()))
            Flatten(*inner, p.rect.x, p.rect.y, out);
    }
}

class StaticPagesTest : public LayoutTest {
protected:
    std::unique_ptr<Page> LaidOut(std::unique_ptr<Page> page) {
        layoutPage(*page, *canvas);
        Flatten(*page->scene, 0, 0, placed);
        return page;
    }
    const Placed* LinkTo(const std::wstring& url) {
        for (const Placed& p : placed)
            if (p.written && p.url == url)
                return &p;
        return nullptr;
    }
    // Nothing written runs over a picture, nothing beyond the right edge.
    void ExpectTextClearOfPictures(float rightEdge) {
        for (const Placed& p : placed) {
            const FloatRect& a = p.rect;
            EXPECT_FALSE((p.written || p.picture) && a.x + a.width > rightEdge) << a.y;
            for (const Placed& q : placed) {
                const FloatRect& b = q.rect;
                EXPECT_FALSE(p.written && q.picture && a.x < b.x + b.width && b.x < a.x + a.width &&
                             a.y < b.y + b.height && b.y < a.y + a.height) << a.y;
            }
        }
    }

    std::vector<Placed> placed;
};

TEST_F(StaticPagesTest, ClubIndexReachesItsSectionsAndEveryOtherLinkTheBanksSite) {
    ClubPageBuilder builder;
    wchar_t title[] = L"Клуб Orvella";
    auto page = LaidOut(builder.MakePage(title));
    title[0] = L'X';
    EXPECT_EQ(page->name, L"Club");
    EXPECT_TRUE(page->scrollable);
    EXPECT_EQ(page->headerHeight, 49u);
    EXPECT_EQ(page->title, std::wstring(L"Клуб Orvella"));
    EXPECT_GT(page->scene->rect.height, 297 - 49);  // more than the viewer shows
    ExpectTextClearOfPictures(268);                  // the scroller's left edge

    ASSERT_NE(LinkTo(L"anchor://Invest"), nullptr);
    EXPECT_EQ(LinkTo(L"anchor://Invest")->text, L"Инвестиции");
    float previous = 0;
    for (const wchar_t* name : {L"MasterCardWorld", L"MasterCardPlatinum", L"Insurance",
                                L"Deposit", L"Invest", L"Lumora"}) {
        const Placed* link = LinkTo(std::wstring(L"anchor://") + name);
        float y = 0;
        ASSERT_TRUE(link && findAnchor(*page->scene, name, &y)) << name;
        EXPECT_GT(y, std::max(previous, link->rect.y)) << name;  // below the index, in order
        previous = y;
    }

    const std::wstring campaign = L"?utm_campaign=widget&utm_source=desktop&utm_content=widget";
    int site = 0;
    for (const Placed& p : placed) {
        if (StartsWith(p.url, L"anchor://")) {
            EXPECT_NE(findAnchor(*page->scene, p.url.c_str() + 9), nullptr) << p.url.c_str();
        } else if (!p.url.empty()) {
            ++site;
            size_t query = p.url.size() - std::min(p.url.size(), campaign.size());
            EXPECT_TRUE(StartsWith(p.url, L"http://www.orvella.example/") &&
                        p.url.compare(query, std::wstring::npos, campaign) == 0)
                << p.url.c_str();
        }
    }
    EXPECT_EQ(site, 1 + 7 + 24);  // joining, the "more" links, the partners
}

TEST_F(StaticPagesTest, PartnerGridMakesRowsOfThreeWithoutAnEmptyOne) {
    std::vector<PartnerEntry> entries(10, PartnerEntry{L"images/partners/partner_1.png",
                                                       L"Ресторан", L"Скидка 10%", L"http://x/"});
    ClubPageBuilder builder;
    for (size_t count : {10u, 3u, 0u}) {
        MDiv block;
        builder.content = &block;
        builder.AddPartnerGrid(entries.data(), count);
        std::vector<size_t> rows, expected(count / 3, 3);
        if (count % 3)
            expected.push_back(count % 3);
        for (const auto& row : block.children)
            rows.push_back(static_cast<MColumns&>(*row).children.size());
        EXPECT_EQ(rows, expected) << count;
    }
}

TEST_F(StaticPagesTest, PartnerLogosMatchTheirNamesAndHideTheDiscount) {
    ClubPageBuilder builder;
    auto page = LaidOut(builder.MakePage(L"Клуб"));
    const wchar_t* const names[] = {
        L"Трюфель", L"Самовар", L"Базилик",   L"Уголёк", L"Лагуна", L"Зерно",  L"Фермер",
        L"Гастроном", L"Лоза",  L"Сыроварня", L"Мода",   L"Буква",  L"Техно",  L"Флора",
        L"Уют",     L"Минута",  L"Вояж",      L"Атлет",  L"Лотос",  L"Медика", L"Вершина",
        L"Блеск",   L"Мотор",   L"Экран"};
    std::vector<const SButton*> logos;
    for (const Placed& p : placed) {
        auto* button = dynamic_cast<const SButton*>(p.element);
        if (button && button->hint)
            logos.push_back(button);
        // Discounts read "Скидка N%"; the page never shows one.
        EXPECT_EQ(p.text.find(L"Скидка"), std::wstring::npos) << p.text.c_str();
    }
    ASSERT_EQ(logos.size(), 24u);
    for (size_t i = 0; i < logos.size(); ++i) {
        std::wstring path = L"images/partners/partner_" + std::to_wstring(i + 1) + L".png";
        gdip::GpImage* logo = canvas->AcquireImage(path.c_str());
        EXPECT_TRUE(logo && logos[i]->normalImage == logo) << i + 1;
        canvas->ReleaseImage(logo);
        EXPECT_NE(logos[i]->hint->find(names[i]), std::wstring::npos) << i + 1;
        EXPECT_EQ(logos[i]->hint->find(L"Скидка"), std::wstring::npos) << i + 1;
    }
}

TEST_F(StaticPagesTest, AboutIsAFixedPageWithoutHeaderThatFitsTheViewer) {
    AboutPageBuilder builder;
    auto page = LaidOut(MakeAboutPage(builder));
    EXPECT_EQ(page->name, L"About");
    EXPECT_FALSE(page->scrollable);
    EXPECT_EQ(page->headerHeight, 0u);
    EXPECT_FALSE(page->title);
    EXPECT_LE(page->scene->rect.height, 297);
    ExpectTextClearOfPictures(270);

    // The developer's site, then the support address.
    std::vector<const Placed*> links;
    for (const Placed& p : placed)
        if (!p.url.empty())
            links.push_back(&p);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_TRUE(StartsWith(links[0]->url, L"http://"));
    EXPECT_EQ(links[1]->url, L"mailto://" + links[1]->text);
    EXPECT_EQ(placed.back().text, L"Версия виджета: 1.10");
}

// Tells when the model it sits in is destroyed. Its kind is none that layout
// knows, so a layout would pass it by.
struct Sentinel : MElement {
    explicit Sentinel(bool* gone) : MElement(1000), gone(gone) {}
    ~Sentinel() override { *gone = true; }
    bool* gone;
};

struct Mailbox : Window {
    using Window::Window;
    void OnContent(int kind, void* payload) override {
        kinds.push_back(kind);
        pages.emplace_back(static_cast<Page*>(payload));
    }
    std::vector<int> kinds;
    std::vector<std::unique_ptr<Page>> pages;
};

// Delivery through the list view of an embedded panel.
class PageDeliveryTest : public testing::Test {
protected:
    void SetUp() override {
        Bridge().listView = instance.listView = desktop.listView;
        instance.hostWindow = host.window;
        Bridge().instance = &instance;
        ASSERT_TRUE(Attach(&instance));
    }
    void TearDown() override {
        Detach(&instance);
        Bridge().instance = nullptr;
    }
    std::unique_ptr<Page> Watched(bool* gone) {
        *gone = false;
        auto page = MakeAboutPage(builder);
        page->model->add(std::make_unique<Sentinel>(gone));
        return page;
    }

    TestDesktop desktop;
    RecordingHost host;
    DesktopInstance instance;
    AboutPageBuilder builder;
};

TEST_F(PageDeliveryTest, PanelsOwnBuildersDeliverBothPagesUnderItsTitle) {
    const Widget& widget = *instance.widget;
    auto named = [&](const wchar_t* name) -> const Page* {
        for (const auto& page : widget.pages)
            if (page->name == name)
                return page.get();
        return nullptr;
    };
    const Page *club = named(L"Club"), *about = named(L"About");
    ASSERT_TRUE(club && about);
    EXPECT_EQ(club->title, std::wstring(widget.settings.title_2));
    EXPECT_TRUE(club->scene && about->scene);
}

TEST_F(PageDeliveryTest, APageArrivesAsKindZeroOrIsFreedWhenNothingTakesIt) {
    Mailbox box(0, 0, 1, 1, instance.root.get());
    bool gone = false;
    EXPECT_TRUE(DeliverPage(&box, Watched(&gone)));
    EXPECT_EQ(box.kinds, std::vector<int>{0});
    EXPECT_FALSE(gone);
    box.pages.clear();
    EXPECT_TRUE(gone);

    EXPECT_FALSE(DeliverPage(nullptr, Watched(&gone)));
    EXPECT_TRUE(gone);
    // Closing: the list view takes nothing more.
    SendMessageW(desktop.listView, DM_CLOSING, 0, 0);
    EXPECT_FALSE(DeliverPage(&box, Watched(&gone)));
    EXPECT_TRUE(gone);
    EXPECT_EQ(box.kinds.size(), 1u);
}

}  // namespace
