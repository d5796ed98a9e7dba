// The Exclusive feed: special offers, each a title on a yellow plate, a text
// with its picture at the left, and a read-more link, under the Lumora
// banner. Offer pictures are downloaded into "exclusive" beside the library;
// the stream remembers every picture a build used in this run and, when the
// run ends, deletes the other files of that folder. Offers past their budget
// (base/Budgets.h) are dropped.
//
//   {"items": [{"title": ..., "body_plain": ..., "image_url": ..., "link": ...}]}
//
// "image_url" is a web address ("http://...", the file named after its last
// "/"), or the path of a picture shipped beside the library.
#pragma once

#include "content/DataStream.h"
#include "content/PictureFiles.h"
#include "layout/Model.h"

#include <string>
#include <vector>

class ExclusiveStream : public DataStream {
public:
    // Field capacities, terminator included.
    static constexpr size_t kTitleUnits = 300;
    static constexpr size_t kTextUnits = 2000;
    static constexpr size_t kLinkUnits = 1000;

    explicit ExclusiveStream(FeedOwner* owner);
    // Deletes the pictures of "exclusive" that no build of this run used.
    void Finish() override;

    // The offers' pictures, and those the builds of this run used.
    PictureFolder pictures{L"exclusive/"};

protected:
    // Downloads the offer pictures; true only when every one came anew.
    bool FetchResources(const JsonValue& document) override;
    void BuildContent(const JsonValue& document) override;
    void AddOfferTitle(MContainer& root, const JsonValue& item);
    void AddOfferBody(MContainer& root, const JsonValue& item);
    // The offer's picture; null when its value names no picture we may show.
    std::unique_ptr<MImage> MakeOfferImage(const JsonValue& item);

    // Outlive every stream, as the pages that point at them may.
    static constexpr FontSpec titleFont{kBoldFamily, 22, FontRegular};
    static constexpr FontSpec textFont{kRegularFamily, 13, FontRegular};
    static constexpr FontSpec linkFont{kRegularFamily, 13, FontRegular};
    static constexpr FontSpec linkHoverFont{kRegularFamily, 13, FontUnderline};
};
