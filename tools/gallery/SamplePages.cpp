// Sample pages; see SamplePages.h.
#include "gallery/SamplePages.h"

#include "content/StaticPages.h"
#include "layout/TextFormatter.h"
#include "gfx/Palette.h"

#include <string>

namespace samples {
namespace {

constexpr float kScrollerRoom = 12;


const FontSpec kBody{kRegularFamily, 13, FontRegular};
const FontSpec kLinkHover{kRegularFamily, 13, FontUnderline};
const FontSpec kHeading{kBoldFamily, 13, FontRegular};
const FontSpec kDate{kRegularFamily, 11, FontRegular};
const FontSpec kBullet{kRegularFamily, 13, FontRegular};

const wchar_t* const kHeadlines[] = {
    L"Новый офис на проспекте Мира",   L"Кешбэк 5% на кафе и рестораны",
    L"Ставки по вкладам повышены",     L"Клуб Orvella: новые партнёры",
    L"Переводы по номеру телефона",    L"Пятничная акция в кинотеатрах",
    L"Ипотека для молодых семей",      L"Обновление мобильного банка",
};
const wchar_t* const kMonths[] = {L"января", L"февраля", L"марта",    L"апреля",
                                  L"мая",    L"июня",    L"июля",     L"августа",
                                  L"сентября", L"октября", L"ноября", L"декабря"};

std::unique_ptr<Page> NewPage(const wchar_t* name, std::unique_ptr<MContainer> model,
                              uint32_t headerHeight = 0, const wchar_t* title = nullptr) {
    auto page = std::make_unique<Page>();
    page->name = name;
    page->model = std::move(model);
    page->scrollable = true;
    page->headerHeight = headerHeight;
    if (title)
        page->title = title;
    return page;
}

// A page-wide block whose content keeps clear of the scroller.
std::unique_ptr<MDiv> Column(float padding = 6) {
    auto root = std::make_unique<MDiv>();
    root->rect.width = kPageWidth;
    root->padding = Padding{padding, padding + kScrollerRoom, padding, padding};
    return root;
}

std::unique_ptr<MParagraph> Markup(const wchar_t* text) {
    auto paragraph = std::make_unique<MParagraph>();
    addMarkup(text, *paragraph, &kBody, &kBody, &kLinkHover, palette::Black, palette::Red, palette::Black);
    return paragraph;
}

}  // namespace

std::unique_ptr<Page> ArticleList(int articles) {
    auto root = Column(0);
    for (int i = 0; i < articles; ++i) {
        auto header = std::make_unique<BiHeader>();
        header->imagePath = L"images/menu_1_news_plashka.png";
        header->padding = Padding{5, 14, 0, 0};  // the date ends inside the 260-pixel strip
        header->leftFont = header->linkHoverFont = &kHeading;
        header->rightFont = &kDate;
        header->leftColor = header->linkHoverColor = header->rightColor = palette::White;
        header->leftText = kHeadlines[i % 8];
        header->leftLink = L"http://orvella.example/news/" + std::to_wstring(i + 1);
        header->rightText = std::to_wstring(1 + i % 28) + L" " + kMonths[(11 - i / 28 % 12)];
        root->add(std::move(header));
        auto text = Markup(L"Подробности в отделениях банка и на сайте. "
                           L"<a href=\"http://orvella.example/\">Читать далее</a>");
        text->padding = Padding{5, 5, 3, 12};
        root->add(std::move(text));
    }
    return NewPage(L"News", std::move(root));
}

std::unique_ptr<Page> PictureStory() {
    auto root = Column();
    auto story = std::make_unique<MParagraph>();
    story->floatImage = std::make_unique<MImage>(L"images/samples/offer.png");
    story->floatImage->padding = Padding{0, 8, 0, 4};
    addMarkup(L"Подарок к карте Platinum: до конца месяца при оформлении карты вы "
              L"получаете год обслуживания бесплатно и повышенный кешбэк на все покупки "
              L"в магазинах партнёров клуба. Условия акции — на "
              L"<a href=\"http://orvella.example/platinum\">странице карты</a>. "
              L"Оформить карту можно в любом офисе банка или в мобильном приложении.",
              *story, &kBody, &kBody, &kLinkHover, palette::Black, palette::Red, palette::Black);
    root->add(std::move(story));
    auto office = std::make_unique<MImage>(L"images/samples/office.png");
    office->align = AlignCentre;
    office->padding = Padding{0, 0, 10, 0};
    root->add(std::move(office));
    return NewPage(L"Exclusive", std::move(root), 48, L"Эксклюзив");
}

std::unique_ptr<Page> BulletList() {
    auto root = Column();
    root->add(Markup(L"Что даёт клуб Orvella:"));
    auto list = std::make_unique<MList>();
    list->bulletFont = &kBullet;
    list->padding = Padding{4, 0, 6, 0};
    for (const wchar_t* item :
         {L"скидки до 20% у партнёров клуба в вашем городе",
          L"бесплатные переводы между картами любых банков",
          L"персональный менеджер и приоритетное обслуживание",
          L"<a href=\"anchor://partners\">партнёры клуба</a> — всегда рядом"}) {
        auto paragraph = std::make_unique<MParagraph>();
        addMarkup(item, *paragraph, &kBody, &kBody, &kLinkHover, palette::Black, palette::Red, palette::Black);
        list->add(std::move(paragraph));
    }
    root->add(std::move(list));
    return NewPage(L"Club", std::move(root));
}

std::unique_ptr<Page> PartnerColumns() {
    auto root = Column();
    root->name = L"partners";
    const wchar_t* const names[] = {L"Трюфель", L"Самовар", L"Базилик", L"Уголёк",
                                    L"Лагуна",  L"Зерно",   L"Фермер",  L"Гастроном",
                                    L"Лоза"};
    for (int row = 0; row < 3; ++row) {
        auto columns = std::make_unique<MColumns>();
        columns->padding = Padding{12, 0, 6, 6};
        for (int column = 0; column < 3; ++column) {
            int n = row * 3 + column;
            std::wstring picture = L"images/partners/partner_" + std::to_wstring(n + 1) + L".png";
            std::wstring hint = std::wstring(names[n]) + L": скидка " + std::to_wstring(5 + n) +
                                L"% по карте Orvella";
            auto button = std::make_unique<MButton>(
                picture.c_str(), (L"http://orvella.example/club/" + std::to_wstring(n)).c_str(),
                hint.c_str());
            button->padding = Padding{0, 24, 0, 0};
            columns->add(std::move(button));
        }
        root->add(std::move(columns));
    }
    return NewPage(L"Partners", std::move(root), 40, L"Партнёры");
}

std::unique_ptr<Page> CityMap() {
    auto map = std::make_unique<MMap>();
    map->rect = FloatRect{0, 0, 280, 270};
    map->mapImage = std::make_unique<MImage>(L"images/samples/city_map.png");
    const float spots[][2] = {{60, 80}, {150, 60}, {200, 170}, {90, 200}};
    for (int i = 0; i < 4; ++i) {
        auto marker = std::make_unique<MButton>(
            L"images/map-marker-small.png",
            (L"page://office-" + std::to_wstring(i + 1)).c_str(),
            (L"Офис №" + std::to_wstring(i + 1)).c_str());
        marker->hoverImagePath = L"images/map-marker-big.png";
        marker->normalRect = FloatRect{spots[i][0], spots[i][1], 16, 21};
        marker->hoverRect = FloatRect{spots[i][0] - 4, spots[i][1] - 12, 25, 33};
        map->add(std::move(marker));
    }
    // The buttons stand in the header, above the map.
    auto page = NewPage(L"Map", std::move(map), 38);
    page->scrollable = false;

    auto overlay = std::make_unique<MColumns>();
    overlay->rect = FloatRect{0, 4, 280, 0};
    overlay->padding = Padding{10, 0, 0, 0};
    auto toMap = std::make_unique<MButton>(L"images/maps-button.png", L"page://map");
    toMap->padding = Padding{0, 8, 0, 0};
    overlay->add(std::move(toMap));
    overlay->add(std::make_unique<MButton>(L"images/maps-button-2.png", L"page://offices"));
    page->overlayModel = std::move(overlay);
    return page;
}


}  // namespace samples
