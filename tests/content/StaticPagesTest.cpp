// The About and Club pages, laid out with the shipped fonts and pictures, and
// their delivery to the panel through the desktop list view.
#include "FeedHarness.h"
#include "TestDesktop.h"
#include "base/WidgetKey.h"
#include "content/StaticPages.h"
#include "layout/LayoutFixture.h"
#include "widget/Widget.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

// A scene element with its rectangle in the page's coordinates.
struct Placed {
    const SElement* element;
    FloatRect rect;
    std::wstring text, url;  // text: of texts and links; url: of links and buttons
    bool picture = false;    // an image or a button
};

void Flatten(const SContainer& container, float x, float y, std::vector<Placed>& out) {
    for (const auto& child : container.children) {
        const FloatRect& r = child->rect;
        Placed p{child.get(), FloatRect{r.x + x, r.y + y, r.width, r.height}, L"", L""};
        if (auto* text = dynamic_cast<const SText*>(child.get()))
            p.text = text->text;
        if (auto* link = dynamic_cast<const SLink*>(child.get()))
            p.text = link->text, p.url = link->url;
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
    // Nothing written runs over a picture, nothing beyond the right edge.
    void ExpectTextClearOfPictures(float rightEdge) {
        for (const Placed& p : placed) {
            const FloatRect& a = p.rect;
            EXPECT_FALSE((!p.text.empty() || p.picture) && a.x + a.width > rightEdge) << a.y;
            for (const Placed& q : placed) {
                const FloatRect& b = q.rect;
                EXPECT_FALSE(!p.text.empty() && q.picture && a.x < b.x + b.width &&
                             b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height)
                    << a.y;
            }
        }
    }

    std::vector<Placed> placed;
};

// Its index reaches its sections, every other link the bank's site, and the
// partners' logos carry their descriptions but never the discount.
TEST_F(StaticPagesTest, ClubPageLinksPartnerLogosAndTheirRowsOfThree) {
    ClubPageBuilder builder;
    wchar_t title[] = L"Клуб Orvella";
    auto page = LaidOut(builder.MakePage(title));
    title[0] = L'X';  // the page keeps its own copy
    EXPECT_TRUE(page->scrollable);
    EXPECT_EQ(page->headerHeight, 49u);
    EXPECT_EQ(page->title, std::wstring(L"Клуб Orvella"));
    EXPECT_GT(page->scene->rect.height, 297 - 49);  // more than the viewer shows
    ExpectTextClearOfPictures(268);                  // the scroller's left edge

    float previous = 0;
    for (const wchar_t* name : {L"MasterCardWorld", L"MasterCardPlatinum", L"Insurance",
                                L"Deposit", L"Invest", L"Lumora"}) {
        auto link = std::find_if(placed.begin(), placed.end(), [&](const Placed& p) {
            return !p.text.empty() && p.url == std::wstring(L"anchor://") + name;
        });
        float y = 0;
        ASSERT_TRUE(link != placed.end() && findAnchor(*page->scene, name, &y)) << name;
        EXPECT_GT(y, std::max(previous, link->rect.y)) << name;  // below the index, in order
        previous = y;
    }

    const std::wstring campaign = L"?utm_campaign=widget&utm_source=desktop&utm_content=widget";
    int site = 0;
    std::vector<const SButton*> logos;
    for (const Placed& p : placed) {
        EXPECT_EQ(p.text.find(L"Скидка"), std::wstring::npos) << p.text.c_str();
        auto* button = dynamic_cast<const SButton*>(p.element);
        if (button && button->hint)
            logos.push_back(button);
        if (!p.url.empty() && p.url.rfind(L"anchor://", 0) != 0) {
            ++site;
            EXPECT_TRUE(p.url.rfind(L"http://www.orvella.example/", 0) == 0 &&
                        p.url.find(campaign) + campaign.size() == p.url.size())
                << p.url.c_str();
        }
    }
    EXPECT_EQ(site, 1 + 7 + 24);  // joining, the "more" links, the partners

    const wchar_t* const names[] = {
        L"Трюфель", L"Самовар", L"Базилик",   L"Уголёк", L"Лагуна", L"Зерно",  L"Фермер",
        L"Гастроном", L"Лоза",  L"Сыроварня", L"Мода",   L"Буква",  L"Техно",  L"Флора",
        L"Уют",     L"Минута",  L"Вояж",      L"Атлет",  L"Лотос",  L"Медика", L"Вершина",
        L"Блеск",   L"Мотор",   L"Экран"};
    ASSERT_EQ(logos.size(), 24u);
    for (size_t i = 0; i < logos.size(); ++i) {
        std::wstring path = L"images/partners/partner_" + std::to_wstring(i + 1) + L".png";
        ImageUse logo = canvas->AcquireImage(path.c_str());
        EXPECT_TRUE(logo && logos[i]->normalImage.get() == logo.get()) << i + 1;
        EXPECT_TRUE(logos[i]->hint->find(names[i]) != std::wstring::npos &&
                    logos[i]->hint->find(L"Скидка") == std::wstring::npos) << i + 1;
    }

    // A partner grid makes rows of three without an empty one.
    std::vector<PartnerEntry> entries(10, PartnerEntry{L"images/partners/partner_1.png",
                                                       L"Ресторан", L"Скидка 10%", L"http://x/"});
    using Rows = std::vector<size_t>;
    const std::pair<size_t, Rows> cases[] = {{10, {3, 3, 3, 1}}, {3, {3}}, {0, {}}};
    for (const auto& [count, expected] : cases) {
        MDiv block;
        builder.content = &block;
        builder.AddPartnerGrid(entries.data(), count);
        Rows rows;
        for (const auto& row : block.children)
            rows.push_back(static_cast<MColumns&>(*row).children.size());
        EXPECT_EQ(rows, expected) << count;
    }
}

TEST_F(StaticPagesTest, AboutIsAFixedPageWithoutHeaderThatFitsTheViewer) {
    AboutPageBuilder builder;
    auto page = LaidOut(MakeAboutPage(builder));
    EXPECT_FALSE(page->scrollable || page->headerHeight || page->title);
    EXPECT_LE(page->scene->rect.height, 297);
    ExpectTextClearOfPictures(270);

    // The developer's site, then the support address.
    std::vector<const Placed*> links;
    for (const Placed& p : placed)
        if (!p.url.empty())
            links.push_back(&p);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0]->url.rfind(L"http://", 0), 0u);
    EXPECT_EQ(links[1]->url, L"mailto://" + links[1]->text);
}

// Tells when the model it sits in is destroyed; layout passes its kind by.
struct Sentinel : MElement {
    explicit Sentinel(bool* gone) : MElement(1000), gone(gone) {}
    ~Sentinel() override { *gone = true; }
    bool* gone;
};

// Delivery through the list view of an embedded panel.
class PageDeliveryTest : public testing::Test {
protected:
    void SetUp() override {
        WidgetKey::Erase();  // the News tab first, whatever an earlier run saved
        embedded = std::make_unique<EmbeddedPanel>(desktop.listView, host.window);
        ASSERT_TRUE(embedded->attached);
    }
    std::unique_ptr<Page> Watched(bool* gone) {
        *gone = false;
        auto page = MakeAboutPage(builder);
        page->model->add(std::make_unique<Sentinel>(gone));
        return page;
    }

    TestDesktop desktop;
    RecordingHost host;
    std::unique_ptr<EmbeddedPanel> embedded;
    AboutPageBuilder builder;
};

TEST_F(PageDeliveryTest, PagesArriveAsKindZeroOrAreFreedWhenNothingTakesThem) {
    // The panel's own builders delivered both pages, the Club under its title.
    Widget& panel = *embedded->embedding().widget;
    std::map<std::wstring, const Page*> pages;
    for (const auto& page : panel.pages)
        pages[page->name] = page.get();
    ASSERT_TRUE(pages[L"Club"] && pages[L"About"]);
    EXPECT_EQ(pages[L"Club"]->title, std::wstring(panel.settings.title_2));
    // Laid out when their tabs are first shown, not at start.
    EXPECT_FALSE(pages[L"Club"]->scene || pages[L"About"]->scene);
    panel.SelectTab(1);
    panel.SelectTab(5);
    EXPECT_TRUE(pages[L"Club"]->scene && pages[L"About"]->scene);
    EXPECT_EQ(panel.navigator->page, pages[L"About"]);
    panel.SelectTab(0);

    RecordingPanel box(0, 0, 1, 1, &embedded->embedding().root);
    bool gone = false;
    EXPECT_TRUE(DeliverPage(&box, Watched(&gone)));
    EXPECT_EQ(box.delivered, (std::map<int, int>{{PageContent, 1}}));
    EXPECT_FALSE(gone);
    box.pages.clear();
    EXPECT_TRUE(gone);

    EXPECT_FALSE(DeliverPage(nullptr, Watched(&gone)));
    EXPECT_TRUE(gone);
    // Closing: the list view takes nothing more.
    SendMessageW(desktop.listView, DM_CLOSING, 0, 0);
    EXPECT_FALSE(DeliverPage(&box, Watched(&gone)));
    EXPECT_TRUE(gone);
    EXPECT_EQ(box.delivered, (std::map<int, int>{{PageContent, 1}}));
}

}  // namespace
