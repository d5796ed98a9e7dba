// The About and Club pages; see StaticPages.h.
#include "content/StaticPages.h"

#include "base/Text.h"
#include "gfx/Palette.h"
#include "layout/TextFormatter.h"
#include "ui/Delivery.h"

#include <cwchar>

// A page of the bank's site, as linked from the widget: the query tells the
// site's statistics that the visit came from the desktop widget.
#define BANK_PAGE(path)                     \
    L"http://www.orvella.example/" path     \
    L"?utm_campaign=widget&utm_source=desktop&utm_content=widget"

namespace {

constexpr gdip::ARGB kAboutLinkColor = 0xFF0000FFu;
// The light blue-grey of the Club page's welcome block.
constexpr gdip::ARGB kClubHeaderColor = 0xFEBBD0DAu;
// Markup is taken up to this many units, terminator included.
constexpr size_t kMarkupUnits = 1000;

// Partner logos, in the order of the pictures: restaurants (1-6), shopping
// and food (7-16), travel, sport, beauty and health (17-21), services (22-24).
const PartnerEntry kRestaurants[] = {
    {L"images/partners/partner_1.png", L"Ресторан «Трюфель»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/trufel")},
    {L"images/partners/partner_2.png", L"Чайная «Самовар»", L"Скидка 15%",
     BANK_PAGE(L"club/partners/samovar")},
    {L"images/partners/partner_3.png", L"Итальянская траттория «Базилик»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/bazilik")},
    {L"images/partners/partner_4.png", L"Гриль-бар «Уголёк»", L"Скидка 12%",
     BANK_PAGE(L"club/partners/ugolek")},
    {L"images/partners/partner_5.png", L"Рыбный ресторан «Лагуна»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/laguna")},
    {L"images/partners/partner_6.png", L"Кофейня «Зерно»", L"Скидка 20%",
     BANK_PAGE(L"club/partners/zerno")},
};

const PartnerEntry kShopping[] = {
    {L"images/partners/partner_7.png", L"Фермерская лавка «Фермер»", L"Скидка 7%",
     BANK_PAGE(L"club/partners/fermer")},
    {L"images/partners/partner_8.png", L"Супермаркет «Гастроном»", L"Скидка 5%",
     BANK_PAGE(L"club/partners/gastronom")},
    {L"images/partners/partner_9.png", L"Винный бутик «Лоза»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/loza")},
    {L"images/partners/partner_10.png", L"Сырная лавка «Сыроварня»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/syrovarnya")},
    {L"images/partners/partner_11.png", L"Магазин одежды «Мода»", L"Скидка 15%",
     BANK_PAGE(L"club/partners/moda")},
    {L"images/partners/partner_12.png", L"Книжный магазин «Буква»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/bukva")},
    {L"images/partners/partner_13.png", L"Салон электроники «Техно»", L"Скидка 5%",
     BANK_PAGE(L"club/partners/tekhno")},
    {L"images/partners/partner_14.png", L"Цветочный салон «Флора»", L"Скидка 15%",
     BANK_PAGE(L"club/partners/flora")},
    {L"images/partners/partner_15.png", L"Товары для дома «Уют»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/uyut")},
    {L"images/partners/partner_16.png", L"Часовой салон «Минута»", L"Скидка 8%",
     BANK_PAGE(L"club/partners/minuta")},
};

const PartnerEntry kLeisure[] = {
    {L"images/partners/partner_17.png", L"Туристическое агентство «Вояж»", L"Скидка 7%",
     BANK_PAGE(L"club/partners/voyazh")},
    {L"images/partners/partner_18.png", L"Фитнес-клуб «Атлет»", L"Скидка 15%",
     BANK_PAGE(L"club/partners/atlet")},
    {L"images/partners/partner_19.png", L"СПА-салон «Лотос»", L"Скидка 20%",
     BANK_PAGE(L"club/partners/lotos")},
    {L"images/partners/partner_20.png", L"Медицинский центр «Медика»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/medika")},
    {L"images/partners/partner_21.png", L"Горнолыжный курорт «Вершина»", L"Скидка 12%",
     BANK_PAGE(L"club/partners/vershina")},
};

const PartnerEntry kServices[] = {
    {L"images/partners/partner_22.png", L"Химчистка «Блеск»", L"Скидка 20%",
     BANK_PAGE(L"club/partners/blesk")},
    {L"images/partners/partner_23.png", L"Автосервис «Мотор»", L"Скидка 10%",
     BANK_PAGE(L"club/partners/motor")},
    {L"images/partners/partner_24.png", L"Сервисный центр «Экран»", L"Скидка 15%",
     BANK_PAGE(L"club/partners/ekran")},
};

template <size_t N>
constexpr size_t CountOf(const PartnerEntry (&)[N]) {
    return N;
}

std::unique_ptr<Page> NewPage(const wchar_t* name, std::unique_ptr<MContainer> model) {
    auto page = std::make_unique<Page>();
    page->name = name;
    page->model = std::move(model);
    return page;
}

// A full-width block at the top of a page; its height comes from layout.
std::unique_ptr<MDiv> PageRoot() {
    auto root = std::make_unique<MDiv>();
    root->rect = FloatRect{0, 0, kPageWidth, 0};
    return root;
}

}  // namespace

bool DeliverPage(Window* receiver, std::unique_ptr<Page> page) {
    if (!receiver || !page)
        return false;
    // Through the list view, as every page reaches the panel: the panel's
    // host window has no one to hand it on.
    if (!SendWindowMessage(receiver->surfaceWindow, DM_CONTENT, PageContent, receiver,
                           page.get()))
        return false;  // not taken: still ours, and goes with page
    page.release();    // the receiver's now
    return true;
}

// ---------------------------------------------------------------------------
// About

MParagraph* AddMarkupParagraph(const AboutPageBuilder& builder, MDiv& root, const wchar_t* text) {
    wchar_t buffer[kMarkupUnits];
    CopyText(buffer, text);
    auto paragraph = std::make_unique<MParagraph>();
    addMarkup(buffer, *paragraph, &builder.textFont, &builder.linkFont, &builder.linkHoverFont,
              palette::Black, kAboutLinkColor, kAboutLinkColor);
    paragraph->padding = Padding{0, 0, 10, 0};
    return static_cast<MParagraph*>(root.add(std::move(paragraph)));
}

std::unique_ptr<Page> MakeAboutPage(const AboutPageBuilder& builder) {
    auto root = PageRoot();
    root->padding = Padding{10, 10, 15, 5};

    auto title = std::make_unique<MParagraph>();
    title->addText(L"О виджете и разработчиках", &builder.titleFont, palette::Black);
    root->add(std::move(title));

    AddMarkupParagraph(builder, *root,
                       L"Orvella — интерактивный виджет для рабочего стола, который банк Orvella "
                       L"создал вместе с деловым журналом «Капитель».");
    AddMarkupParagraph(builder, *root,
                       L"Задача виджета — сообщать читателям и клиентам новости и банковскую "
                       L"информацию в максимально удобной и приятной форме. ");
    AddMarkupParagraph(builder, *root,
                       L"А по пятницам виджет расскажет об интересных событиях на выходные.");

    MParagraph* credits = AddMarkupParagraph(
        builder, *root,
        L"Разработчик: <a href=\"http://tambrel.example/\">Студия Тамбрель</a>\n"
        L"Техническая поддержка: "
        L"<a href=\"mailto://help@orvella.example\">help@orvella.example</a>");
    credits->padding.top = 20;
    credits->padding.left = credits->padding.right = 0;

    MParagraph* version = AddMarkupParagraph(builder, *root, L"Версия виджета: 1.10");
    version->padding.top = 20;
    version->padding.left = version->padding.right = 0;

    // Short enough for the viewer without a title or a scroller.
    return NewPage(L"About", std::move(root));
}

bool BuildAboutPage(AboutPageBuilder& builder) {
    return DeliverPage(builder.receiver, MakeAboutPage(builder));
}

// ---------------------------------------------------------------------------
// Club

ClubPageBuilder::ClubPageBuilder()
    : textFont(new FontSpec{kRegularFamily, 13, FontRegular}),
      groupTitleFont(new FontSpec{kBoldFamily, 19, FontRegular}),
      sectionTitleFont(new FontSpec{kBoldFamily, 22, FontRegular}),
      moreLinkFont(new FontSpec{kRegularFamily, 13, FontUnderline}),
      productLinkFont(new FontSpec{kRegularFamily, 14, FontUnderline}),
      textColor(palette::Black),
      moreLinkColor(0xFF9933CCu),
      productLinkColor(0xFF663399u) {}

ClubPageBuilder::ClubPageBuilder(Window* receiver, const wchar_t* title) : ClubPageBuilder() {
    if (receiver)
        DeliverPage(receiver, MakePage(title));
}

std::unique_ptr<Page> ClubPageBuilder::MakePage(const wchar_t* title) {
    auto root = PageRoot();

    auto header = std::make_unique<MDiv>();
    header->padding.right = 20;
    header->hasBackground = true;
    header->cornerRadius = 0;
    header->backgroundColor = kClubHeaderColor;
    auto welcome = std::make_unique<MParagraph>();
    welcome->padding.left = 12;
    welcome->addText(L"Добро пожаловать в Клуб Orvella — клуб самых уважаемых клиентов нашего "
                     L"банка! Здесь собраны привилегии, продукты и скидки партнёров, которые "
                     L"мы подготовили специально для вас.",
                     textFont.get(), textColor);
    header->add(std::move(welcome));
    auto join = std::make_unique<MButton>(L"images/marhaven_gloss_button_connect.png",
                                          BANK_PAGE(L"club/join"));
    join->padding = Padding{52, 0, 26, 18};
    header->add(std::move(join));
    root->add(std::move(header));

    auto block = std::make_unique<MDiv>();
    block->padding = Padding{9, 14, 0, 10};
    content = static_cast<MDiv*>(root->add(std::move(block)));

    AddSectionTitle(L"Сервис");
    AddBulletList(L"Персональный менеджер", L"Отдельная зона обслуживания",
                  L"Выделенная телефонная линия");
    AddMoreLink(BANK_PAGE(L"club/privileges"));

    AddSectionTitle(L"Продукты");
    AddProductRow(L"images/marhaven-icon-cards.png", L"Карта Orvella World",
                  L"anchor://MasterCardWorld", L"Карта Orvella Platinum",
                  L"anchor://MasterCardPlatinum");
    AddProductRow(L"images/marhaven-icon-insurance.png", L"Страхование", L"anchor://Insurance");
    AddProductRow(L"images/marhaven-icon-deposit.png", L"Вклады", L"anchor://Deposit");
    AddProductRow(L"images/marhaven-icon-invest.png", L"Инвестиции", L"anchor://Invest");
    AddProductRow(L"images/marhaven-icon-lumora.png", L"Привилегии Lumora", L"anchor://Lumora");

    AddCardSection(L"Карта Orvella World", L"images/credit-card.png", L"MasterCardWorld");
    AddBullet(L"Кредитный лимит до 1 000 000 рублей и беспроцентный период до 55 дней");
    AddBullet(L"Бонусная программа: до 3% от суммы покупок возвращается баллами на счёт карты");
    AddBullet(L"Скидки и особые предложения партнёров программы привилегий Lumora");
    AddBullet(L"Привилегии платёжной системы в отелях, ресторанах и службах проката автомобилей "
              L"по всему миру");
    AddMoreLink(BANK_PAGE(L"cards/world"));

    AddCardSection(L"Карта Orvella Platinum", L"images/debet-card.png", L"MasterCardPlatinum");
    AddBullet(L"Страховка для путешествий за границу для вас и вашей семьи");
    AddBullet(L"Круглосуточный консьерж-сервис: билеты, отели, столики в ресторанах");
    AddBullet(L"Снятие наличных без комиссии в банкоматах любых банков по всему миру");
    AddBullet(L"Бесплатный интернет-банк: платежи, переводы и выписки в любое время");
    AddBullet(L"Участие в программе привилегий Lumora");
    AddMoreLink(BANK_PAGE(L"cards/platinum"));

    // A one-line title stands 10 pixels down, about the icon's middle; the
    // two-line titles below fill the icon's height from its top.
    AddProductSection(L"images/marhaven-icon-insurance.png", L"Страхование жизни", L"Insurance",
                      10);
    AddBullet(L"Защита жизни и здоровья на срок от 5 до 20 лет");
    AddBullet(L"Накопление нужной суммы к выбранной вами дате");
    AddBullet(L"Гарантированный доход и дополнительный инвестиционный доход");
    AddBullet(L"Социальный налоговый вычет на сумму взносов");
    AddBullet(L"Выплата тем, кого вы сами назначите получателями");
    AddBullet(L"Взносы раз в год, раз в полгода или ежемесячно");
    AddMoreLink(BANK_PAGE(L"club/insurance"));

    AddProductSection(L"images/marhaven-icon-deposit.png", L"Вклады для членов клуба",
                      L"Deposit", 0);
    AddBullet(L"Повышенные ставки для членов клуба");
    AddBullet(L"Вклады в рублях, долларах и евро");
    AddBullet(L"Пополнение и частичное снятие без потери процентов");
    AddBullet(L"Открытие вклада в интернет-банке за несколько минут");
    AddBullet(L"Вклады застрахованы в государственной системе страхования вкладов");
    AddMoreLink(BANK_PAGE(L"club/deposits"));

    AddProductSection(L"images/marhaven-icon-invest.png", L"Инвестиции в паевые фонды",
                      L"Invest", 0);
    AddBullet(L"Фонды акций, облигаций и смешанных инвестиций на выбор");
    AddBullet(L"Фондами управляет «Орвелла Капитал», управляющая компания группы Orvella");
    AddBullet(L"Паи от 5 000 рублей: покупка и погашение в офисах банка");
    AddMoreLink(BANK_PAGE(L"club/investments"));

    AddProductSection(L"images/marhaven-icon-lumora.png", L"Программа привилегий Lumora",
                      L"Lumora", 0);
    AddBullet(L"Участники программы — держатели карт Orvella World и Orvella Platinum");
    AddBullet(L"Скидки у партнёров программы: рестораны, магазины, путешествия, спорт "
              L"и услуги");
    AddBullet(L"Особые предложения и закрытые мероприятия для участников");
    AddMoreLink(BANK_PAGE(L"club/lumora"));

    auto banner = std::make_unique<MImage>(L"images/lumora.png");
    banner->align = AlignCentre;
    // The negative bottom draws the first group title up close under the
    // banner: it belongs to the partners that follow.
    banner->padding = Padding{0, 0, 16, -15};
    content->add(std::move(banner));

    AddGroupTitle(L"Рестораны");
    AddPartnerGrid(kRestaurants, CountOf(kRestaurants));
    AddGroupTitle(L"Покупки и гастрономия");
    AddPartnerGrid(kShopping, CountOf(kShopping));
    AddGroupTitle(L"Туризм, спорт, красота и здоровье");
    AddPartnerGrid(kLeisure, CountOf(kLeisure));
    AddGroupTitle(L"Услуги");
    AddPartnerGrid(kServices, CountOf(kServices));

    // The model is the page's from here on.
    content = nullptr;
    auto page = NewPage(L"Club", std::move(root));
    page->scrollable = true;
    page->headerHeight = 49;
    if (title)
        page->title = std::wstring(title);
    return page;
}

MParagraph* ClubPageBuilder::AddSectionTitle(const wchar_t* text) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding.top = 16;
    paragraph->addText(text, sectionTitleFont.get(), textColor);
    return static_cast<MParagraph*>(content->add(std::move(paragraph)));
}

MList* ClubPageBuilder::AddBulletList(const wchar_t* first, const wchar_t* second,
                                      const wchar_t* third) {
    auto list = std::make_unique<MList>();
    list->bulletFont = textFont.get();
    list->padding.top = 12;
    for (const wchar_t* item : {first, second, third})
        list->addText(item, textFont.get(), textColor);
    return static_cast<MList*>(content->add(std::move(list)));
}

MParagraph* ClubPageBuilder::AddBullet(const wchar_t* text) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding.top = 12;
    paragraph->addText(text, textFont.get(), textColor);
    return static_cast<MParagraph*>(content->add(std::move(paragraph)));
}

MParagraph* ClubPageBuilder::AddMoreLink(const wchar_t* url) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding.top = 10;
    paragraph->textAlign = 1;
    paragraph->addLink(L"Подробнее на сайте банка", url, moreLinkFont.get(), moreLinkColor,
                       moreLinkFont.get(), moreLinkColor);
    return static_cast<MParagraph*>(content->add(std::move(paragraph)));
}

MColumns* ClubPageBuilder::AddProductRow(const wchar_t* iconPath, const wchar_t* firstName,
                                         const wchar_t* firstTarget, const wchar_t* secondName,
                                         const wchar_t* secondTarget) {
    bool two = secondName && secondTarget;
    auto row = std::make_unique<MColumns>();
    row->padding.top = 9;
    row->add(std::make_unique<MImage>(iconPath));
    auto names = std::make_unique<MParagraph>();
    names->padding.left = 9;
    // One line or two, about the middle of the icon.
    names->padding.top = two ? 8 : 16;
    FontSpec* font = productLinkFont.get();
    names->addLink(firstName, firstTarget, font, productLinkColor, font, productLinkColor);
    if (two) {
        names->addText(L"\n", font, productLinkColor);
        names->addLink(secondName, secondTarget, font, productLinkColor, font, productLinkColor);
    }
    row->add(std::move(names));
    return static_cast<MColumns*>(content->add(std::move(row)));
}

MDiv* ClubPageBuilder::AddCardSection(const wchar_t* title, const wchar_t* imagePath,
                                      const wchar_t* anchor) {
    auto section = std::make_unique<MDiv>();
    section->padding.top = 16;
    auto heading = std::make_unique<MParagraph>();
    heading->name = std::wstring(anchor);
    heading->padding.top = 30;
    heading->addText(title, sectionTitleFont.get(), textColor);
    section->add(std::move(heading));
    auto card = std::make_unique<MImage>(imagePath);
    card->padding = Padding{0, 0, 26, 12};
    section->add(std::move(card));
    return static_cast<MDiv*>(content->add(std::move(section)));
}

MColumns* ClubPageBuilder::AddProductSection(const wchar_t* iconPath, const wchar_t* title,
                                             const wchar_t* anchor, float titleTop) {
    auto row = std::make_unique<MColumns>();
    row->name = std::wstring(anchor);
    row->padding.top = 20;
    row->padding.bottom = 9;
    row->add(std::make_unique<MImage>(iconPath));
    auto heading = std::make_unique<MParagraph>();
    heading->padding.top = titleTop;
    heading->padding.bottom = 11;
    heading->addText(title, groupTitleFont.get(), textColor);
    row->add(std::move(heading));
    return static_cast<MColumns*>(content->add(std::move(row)));
}

MParagraph* ClubPageBuilder::AddGroupTitle(const wchar_t* text) {
    auto paragraph = std::make_unique<MParagraph>();
    paragraph->padding.top = 18;
    paragraph->textAlign = 0;
    paragraph->addText(text, groupTitleFont.get(), textColor);
    return static_cast<MParagraph*>(content->add(std::move(paragraph)));
}

void ClubPageBuilder::AddPartnerGrid(const PartnerEntry* entries, size_t count) {
    auto newRow = [] {
        auto row = std::make_unique<MColumns>();
        row->padding.left = 18;
        row->padding.top = 18;
        return row;
    };
    std::unique_ptr<MColumns> row = newRow();
    for (size_t i = 0; i < count; ++i) {
        const PartnerEntry& entry = entries[i];
        // The description is the hint; the discount stays off the page.
        auto logo = std::make_unique<MButton>(entry.imagePath, entry.link, entry.description);
        logo->padding.right = 18;
        row->add(std::move(logo));
        if (row->children.size() == 3) {
            content->add(std::move(row));
            row = newRow();
        }
    }
    if (!row->children.empty())
        content->add(std::move(row));
}
