// The Exclusive feed; see ExclusiveStream.h.
#include "content/ExclusiveStream.h"

#include "base/Budgets.h"
#include "gfx/Palette.h"
#include "layout/TextFormatter.h"
#include "net/HttpClient.h"
#include "viewer/Page.h"

#include <algorithm>

namespace {

constexpr wchar_t kBanner[] = L"images/lumora.png";
constexpr gdip::ARGB kPlateColour = 0xFFFFDF7Fu;

}  // namespace

ExclusiveStream::ExclusiveStream(FeedOwner* owner)
    : DataStream(owner, L"/media/data/exclusive.json", L"feeds/exclusive.json", 86400000) {
    LoadCache();
}


bool ExclusiveStream::FetchResources(const JsonValue& document) {
    return pictures.Download(JsonMember(document, "items"));
}

std::unique_ptr<MImage> ExclusiveStream::MakeOfferImage(const JsonValue& item) {
    const std::wstring path = pictures.Admit(item);
    if (path.empty())
        return nullptr;
    auto image = std::make_unique<MImage>(path.c_str());
    image->align = AlignLeft;
    return image;
}

void ExclusiveStream::AddOfferTitle(MContainer& root, const JsonValue& item) {
    wchar_t title[kTitleUnits];
    JsonText(item, "title", title);
    auto plate = std::make_unique<MParagraph>();
    plate->hasBackground = true;
    plate->cornerRadius = 6;
    plate->backgroundColor = kPlateColour;
    plate->padding = Padding{8, 8, 8, 8};
    plate->addText(title, &titleFont, palette::Black);
    root.add(std::move(plate));
}

void ExclusiveStream::AddOfferBody(MContainer& root, const JsonValue& item) {
    auto text = std::make_unique<MParagraph>();
    text->padding = Padding{0, 0, 8, 0};
    text->floatImage = MakeOfferImage(item);
    if (text->floatImage)
        text->floatImage->padding = Padding{0, 12, 5, 0};
    wchar_t body[kTextUnits];
    JsonText(item, "body_plain", body);
    addMarkup(body, *text, &textFont, &linkFont, &linkHoverFont, palette::Black, palette::Red,
              palette::Red);
    root.add(std::move(text));

    wchar_t link[kLinkUnits];
    JsonText(item, "link", link);
    auto more = std::make_unique<MParagraph>();
    more->padding = Padding{0, 0, 8, 18};
    more->addLink(L"Читать далее...", link, &linkFont, palette::Red, &linkHoverFont, palette::Red);
    root.add(std::move(more));
}

void ExclusiveStream::BuildContent(const JsonValue& document) {
    auto root = std::make_unique<MDiv>();
    root->rect = FloatRect{0, 0, kPageWidth, 0};
    root->padding = Padding{5, 15, 9, 10};
    auto banner = std::make_unique<MImage>(kBanner);
    banner->align = AlignCentre;
    banner->padding = Padding{0, 0, 18, 18};
    root->add(std::move(banner));
    const JsonValue& items = JsonMember(document, "items");
    pictures.StartBuild();
    for (size_t i = 0, n = std::min(JsonCount(items), kOfferItems); i < n; ++i) {
        if (StopRequested())
            return;
        AddOfferTitle(*root, JsonItem(items, i));
        AddOfferBody(*root, JsonItem(items, i));
    }
    auto page = std::make_unique<Page>();
    page->name = L"Exclusive";
    page->model = std::move(root);
    page->scrollable = true;
    DeliverPage(std::move(page));
}

void ExclusiveStream::Finish() {
    pictures.DeleteUnused();
}
