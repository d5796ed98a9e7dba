// Sample pages for the page gallery and the layout benchmark (never
// shipped): a long list of articles with two-part headers, a
// paragraph beside a picture, a bulleted list, three columns of partner
// buttons with hints, and a city map with markers under an overlay of
// buttons. Each is a model ready for layoutPage; the fonts it names live as
// long as the library.
#pragma once

#include "viewer/Page.h"

#include <memory>

class Window;

namespace samples {

std::unique_ptr<Page> ArticleList(int articles);
std::unique_ptr<Page> PictureStory();
std::unique_ptr<Page> BulletList();
std::unique_ptr<Page> PartnerColumns();
std::unique_ptr<Page> CityMap();


}  // namespace samples
