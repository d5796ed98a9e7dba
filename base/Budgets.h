// What the widget accepts from outside: every feed, picture, update and
// answer comes over plain HTTP, so whatever a server (or anyone on the way)
// sends is parsed, built, laid out and drawn inside the shell. Each budget
// leaves a wide margin over what a real bank's content holds (our content
// set's News is 17 kB for 27 articles, its pictures a few kB each) and is
// sized for a panel of 318 x 468 pixels, not for a download.
//
// Past a byte budget, a document or picture counts as a failed download:
// nothing is written, the old page and cache stay, and the early retry
// asks again. Past an item budget, the items beyond it are dropped and the
// rest shown.
#pragma once

#include <cstddef>
#include <cstdint>

// A feed document, downloaded or read back from its cache file: the parse
// and the pages built from it grow with its size.
constexpr size_t kFeedDocumentBytes = 2u << 20;

// Articles of the News feed, and events of the Friday feed, that are shown.
constexpr size_t kArticleItems = 300;
// Offers of the Exclusive feed; each may bring a picture.
constexpr size_t kOfferItems = 50;
// Cities of the Map feed: each brings a map picture and a row of the city
// list.
constexpr size_t kMapCities = 20;
// Offices of one city: each is a marker, a row of the list and a page.
constexpr size_t kCityOffices = 200;

// Pictures one feed document may name; those past it are neither
// downloaded nor shown.
constexpr size_t kFeedPictures = 50;
// One picture file, downloaded or read from the disk.
constexpr size_t kPictureFileBytes = 1u << 20;
// The pictures one document names, together, in its folder ("exclusive",
// "maps"); those past it are neither downloaded nor shown.
constexpr uint64_t kPictureFolderBytes = 8u << 20;
// A picture whose header declares more pixels than this, or a side longer
// than kPictureDeclaredSide, is refused before any pixel is decoded: a
// small file may declare a frame of gigabytes.
constexpr uint64_t kPictureDeclaredPixels = 2048 * 2048;
constexpr uint32_t kPictureDeclaredSide = 8192;
// A decoded picture is kept at most at this size (twice the panel's, for a
// screen at 200 %), scaled down to fit when larger: it is never shown in a
// larger box.
constexpr uint32_t kPictureHeldWidth = 636;
constexpr uint32_t kPictureHeldHeight = 936;

// The update program, downloaded whole before it is written.
constexpr size_t kUpdateBytes = 32u << 20;
// The headers of any answer (the statistics server's included, whose body
// is never read).
constexpr uint32_t kAnswerHeaderBytes = 16u << 10;
