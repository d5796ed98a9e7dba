// Canvas surface, resource caches and drawing operations; see Canvas.h.
#include "gfx/Canvas.h"

#include "base/Budgets.h"
#include "base/ModulePath.h"
#include "base/Threads.h"
#include "gfx/Palette.h"


#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <memory>
#include <cwchar>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

using namespace gdip;

namespace gdip {

namespace {

// The DIB sections under pictures, by the image drawn on them. Pictures may
// be loaded and let go on any thread.
std::mutex& SectionsLock() {
    static std::mutex lock;
    return lock;
}

struct Section {
    HBITMAP bitmap = nullptr;
    std::vector<OpaqueRun> runs;  // one per row
    float factor = 1;             // pixels per pixel of the design
};

std::map<const GpImage*, Section>& Sections() {
    static std::map<const GpImage*, Section> sections;
    return sections;
}

// Whether a picture of that size may be decoded at all.
bool DeclaredSizeWithin(uint64_t width, uint64_t height) {
    return width <= kPictureDeclaredSide && height <= kPictureDeclaredSide &&
           width * height <= kPictureDeclaredPixels;
}

uint32_t BigEndian(const BYTE* at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | at[i];
    return value;
}

uint32_t LittleEndian(const BYTE* at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

}  // namespace

bool DeclaredPictureSize(const BYTE* data, size_t size, uint32_t& width, uint32_t& height) {
    width = height = 0;
    if (!data)
        return false;
    if (size >= 24 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0 &&
        std::memcmp(data + 12, "IHDR", 4) == 0) {
        width = BigEndian(data + 16, 4);
        height = BigEndian(data + 20, 4);
        return true;
    }
    if (size >= 10 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)) {
        width = LittleEndian(data + 6, 2);
        height = LittleEndian(data + 8, 2);
        return true;
    }
    if (size >= 26 && data[0] == 'B' && data[1] == 'M') {
        const uint32_t header = LittleEndian(data + 14, 4);
        if (header == 12) {
            width = LittleEndian(data + 18, 2);
            height = LittleEndian(data + 20, 2);
            return true;
        }
        if (header >= 40 && size >= 26) {
            const int32_t w = int32_t(LittleEndian(data + 18, 4));
            const int32_t h = int32_t(LittleEndian(data + 22, 4));
            if (w <= 0 || h == 0 || h == INT32_MIN)
                return false;
            width = uint32_t(w);
            height = uint32_t(h < 0 ? -h : h);
            return true;
        }
        return false;
    }
    if (size >= 4 && data[0] == 0xFF && data[1] == 0xD8) {
        // Markers up to the first frame header, each segment skipped by its
        // length; a frame's size is in every SOF marker but DHT, JPG and DAC.
        size_t at = 2;
        while (at + 4 <= size) {
            if (data[at] != 0xFF)
                return false;
            const BYTE marker = data[at + 1];
            if (marker == 0xFF) {
                ++at;  // fill byte
                continue;
            }
            if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
                at += 2;
                continue;
            }
            if (marker == 0xD9 || marker == 0xDA)
                return false;
            const size_t length = BigEndian(data + at + 2, 2);
            if (length < 2)
                return false;
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                marker != 0xCC) {
                if (at + 9 > size || length < 7)
                    return false;
                height = BigEndian(data + at + 5, 2);
                width = BigEndian(data + at + 7, 2);
                return true;
            }
            at += 2 + length;
        }
    }
    return false;
}

namespace {

// The size a picture is kept at: its own, or scaled down, its proportions
// kept, to fit the largest box it is ever shown in.
std::pair<UINT, UINT> HeldSize(UINT width, UINT height) {
    if (width <= kPictureHeldWidth && height <= kPictureHeldHeight)
        return {width, height};
    const double scale = std::min(double(kPictureHeldWidth) / width,
                                  double(kPictureHeldHeight) / height);
    return {std::max(1u, UINT(width * scale)), std::max(1u, UINT(height * scale))};
}

// The decoded picture again, on premultiplied pixels in a DIB section, at
// the given size (its held size when none is given), scaled with the
// interpolation given; null when it is no bitmap or the memory cannot be had.
ImagePtr OnSection(GpImage* decoded, UINT width = 0, UINT height = 0,
                   InterpolationMode interpolation = InterpolationModeHighQualityBicubic) {
    UINT sourceWidth = 0, sourceHeight = 0;
    GdipGetImageWidth(decoded, &sourceWidth);
    GdipGetImageHeight(decoded, &sourceHeight);
    if (sourceWidth == 0 || sourceHeight == 0 || !DeclaredSizeWithin(sourceWidth, sourceHeight))
        return nullptr;
    if (width == 0 || height == 0)
        std::tie(width, height) = HeldSize(sourceWidth, sourceHeight);
    if (!DeclaredSizeWithin(width, height))
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = LONG(width);
    info.bmiHeader.biHeight = -LONG(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    gdi::Bitmap section(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || !bits)
        return nullptr;
    GpBitmap* created = nullptr;
    if (GdipCreateBitmapFromScan0(INT(width), INT(height), INT(width * 4), PixelFormat32bppPARGB,
                                  static_cast<BYTE*>(bits), &created) != Ok)
        return nullptr;
    ImagePtr twin(created);
    if (width == sourceWidth && height == sourceHeight) {
        GpRect whole{0, 0, INT(width), INT(height)};
        BitmapData data{};
        if (GdipBitmapLockBits(static_cast<GpBitmap*>(decoded), &whole, ImageLockModeRead,
                               PixelFormat32bppPARGB, &data) != Ok)
            return nullptr;
        for (UINT y = 0; y < height; ++y)
            std::memcpy(static_cast<BYTE*>(bits) + size_t(y) * width * 4,
                        static_cast<const BYTE*>(data.Scan0) + ptrdiff_t(y) * data.Stride,
                        size_t(width) * 4);
        GdipBitmapUnlockBits(static_cast<GpBitmap*>(decoded), &data);
    } else {
        GpGraphics* drawing = nullptr;
        if (GdipGetImageGraphicsContext(twin.get(), &drawing) != Ok)
            return nullptr;
        GdipSetInterpolationMode(drawing, interpolation);
        GdipSetPixelOffsetMode(drawing, PixelOffsetModeHalf);
        // Mirrored past its edges, so that the filter blends no transparency
        // into the border.
        GpImageAttributes* attributes = nullptr;
        GdipCreateImageAttributes(&attributes);
        if (attributes)
            GdipSetImageAttributesWrapMode(attributes, WrapModeTileFlipXY, 0, FALSE);
        const GpStatus drawn = GdipDrawImageRectRectI(
            drawing, decoded, 0, 0, INT(width), INT(height), 0, 0, INT(sourceWidth),
            INT(sourceHeight), UnitPixel, attributes, nullptr, nullptr);
        if (attributes)
            GdipDisposeImageAttributes(attributes);
        GdipDeleteGraphics(drawing);
        if (drawn != Ok)
            return nullptr;
    }
    // Surveyed once, where it is decoded: the opaque inside of a picture
    // is then copied rather than blended every time it is drawn.
    std::vector<OpaqueRun> runs(height);
    for (UINT y = 0; y < height; ++y)
        runs[y] = LongestOpaqueRun(
            reinterpret_cast<const uint32_t*>(static_cast<BYTE*>(bits) + size_t(y) * width * 4),
            int(width));
    std::lock_guard<std::mutex> hold(SectionsLock());
    Sections()[twin.get()] = Section{section.release(), std::move(runs)};
    return twin;
}

}  // namespace

GpStatus WINGDIPAPI DisposeImage(GpImage* image) {
    // The image first: it draws on the section's pixels to the end.
    GpStatus status = GdipDisposeImage(image);
    HBITMAP section = nullptr;
    {
        std::lock_guard<std::mutex> hold(SectionsLock());
        auto found = Sections().find(image);
        if (found != Sections().end()) {
            section = found->second.bitmap;
            Sections().erase(found);
        }
    }
    if (section)
        DeleteObject(section);
    return status;
}

namespace {

// The section and rows of a picture from LoadPicture; null for any other
// image. Valid while the image lives.
const Section* FindSection(const GpImage* image) {
    std::lock_guard<std::mutex> hold(SectionsLock());
    auto found = Sections().find(image);
    return found == Sections().end() ? nullptr : &found->second;
}

}  // namespace

size_t PictureSectionCount() {
    std::lock_guard<std::mutex> hold(SectionsLock());
    return Sections().size();
}

HBITMAP PictureSection(const GpImage* image) {
    const Section* section = FindSection(image);
    return section ? section->bitmap : nullptr;
}

std::optional<uint32_t> SolidColour(const GpImage* image, const RECT& designArea) {
    HBITMAP section = image ? PictureSection(image) : nullptr;
    // In the picture's own pixels: the inside of the area's pixels there.
    const float factor = PictureFactor(image);
    const RECT area{LONG(std::ceil(designArea.left * factor)),
                    LONG(std::ceil(designArea.top * factor)),
                    LONG(std::floor(designArea.right * factor)),
                    LONG(std::floor(designArea.bottom * factor))};
    DIBSECTION dib{};
    if (!section || GetObjectW(section, sizeof(dib), &dib) != sizeof(dib) || !dib.dsBm.bmBits ||
        area.left < 0 || area.top < 0 || area.right > dib.dsBm.bmWidth ||
        area.bottom > dib.dsBm.bmHeight || area.left >= area.right || area.top >= area.bottom)
        return std::nullopt;
    // Top-down, 32-bit premultiplied: an opaque pixel holds its colour as is.
    auto row = [&](int y) {
        return reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(dib.dsBm.bmBits) +
                                                 size_t(y) * size_t(dib.dsBm.bmWidthBytes));
    };
    const uint32_t first = row(area.top)[area.left];
    if ((first >> 24) != 0xFF)
        return std::nullopt;
    for (int y = area.top; y < area.bottom; ++y) {
        const uint32_t* pixels = row(y);
        for (int x = area.left; x < area.right; ++x)
            if (pixels[x] != first)
                return std::nullopt;
    }
    return first & 0xFFFFFFu;
}

ImagePtr ScaledPicture(GpImage* picture, UINT width, UINT height, float factor) {
    // Made on the window thread as the picture is first shown: bilinear,
    // which Wine's GDI+ does several times faster than bicubic, looks the
    // same on a picture scaled up by half or twice.
    ImagePtr copy = picture ? OnSection(picture, width, height, InterpolationModeBilinear) : nullptr;
    if (copy) {
        std::lock_guard<std::mutex> hold(SectionsLock());
        Sections()[copy.get()].factor = factor;
    }
    return copy;
}

float PictureFactor(const GpImage* image) {
    const Section* section = image ? FindSection(image) : nullptr;
    return section ? section->factor : 1.0f;
}

void PictureSize(GpImage* image, float& width, float& height) {
    UINT pixelsWide = 0, pixelsHigh = 0;
    if (image) {
        GdipGetImageWidth(image, &pixelsWide);
        GdipGetImageHeight(image, &pixelsHigh);
    }
    const float factor = PictureFactor(image);
    // A drawing at 1.5x of an odd size has its half pixel rounded either way.
    width = factor == 1 ? float(pixelsWide) : std::round(float(pixelsWide) / factor);
    height = factor == 1 ? float(pixelsHigh) : std::round(float(pixelsHigh) / factor);
}

namespace {

float& CurrentPictureScale() {
    static float scale = 1;
    return scale;
}

// The factor of the drawing that serves a scale: none past 2x.
float DrawingFactor(float scale) {
    if (scale <= 1)
        return 1;
    return scale <= 1.5f ? 1.5f : 2.0f;
}

}  // namespace

void SetPictureScale(float scale) {
    CurrentPictureScale() = scale > 0 ? scale : 1;
}

float PictureScale() {
    return CurrentPictureScale();
}

std::wstring ScaledPicturePath(const std::wstring& path, float scale) {
    const float factor = DrawingFactor(scale);
    constexpr size_t kFolder = 7;  // "images/"
    if (factor == 1 || path.size() <= kFolder + 4 ||
        (path.compare(0, kFolder, L"images/") != 0 && path.compare(0, kFolder, L"images\\") != 0) ||
        path.compare(path.size() - 4, 4, L".png") != 0 || path.find(L"..") != std::wstring::npos)
        return path;
    return path.substr(0, path.size() - 4) + (factor == 1.5f ? L"@1.5x.png" : L"@2x.png");
}

ImagePtr LoadScaledPicture(const wchar_t* path) {
    if (!path)
        return nullptr;
    const std::wstring drawing = ScaledPicturePath(path, PictureScale());
    if (drawing != path) {
        if (ImagePtr picture = LoadPicture(drawing.c_str())) {
            std::lock_guard<std::mutex> hold(SectionsLock());
            auto found = Sections().find(picture.get());
            if (found != Sections().end()) {
                found->second.factor = DrawingFactor(PictureScale());
                return picture;
            }
        }
    }
    return LoadPicture(path);
}

namespace {

// What is decoded ahead and not yet asked for is held up to this many bytes
// of pixels (the panel's six backgrounds take 3.6 MB at 100 %, four times
// that at 200 %, for which the budget grows as much); a picture past it is
// decoded when it is needed.
constexpr uint64_t kPicturesAheadBytes = 16u << 20;
// Paths waiting to be decoded ahead; those past it are decoded when needed.
constexpr size_t kPicturesAheadQueued = 256;

// The pictures decoded ahead and the thread decoding them. Shared by the
// panel and the thread: a thread that teardown does not wait for holds the
// record, and its own GDI+ session, until it has let go of what it decoded.
struct Ahead {
    Session session;  // declared first: ended after the pictures below are gone
    std::mutex lock;
    std::condition_variable changed;  // a path queued, a picture decoded, or the end
    std::deque<std::wstring> queued;  // not yet started, in the order needed
    std::wstring decoding;            // on the thread now; empty for none
    struct Done {
        std::wstring path;
        ImagePtr picture;
        uint64_t bytes;  // of its pixels
    };
    std::vector<Done> done;
    uint64_t doneBytes = 0;           // of the pictures in done
    uint64_t budget = kPicturesAheadBytes;  // for doneBytes, at the pictures' scale
    float scale = 1;  // the screen's, as the window thread last queued pictures

    std::vector<Done>::iterator FindDone(const std::wstring& path) {
        return std::find_if(done.begin(), done.end(),
                            [&](const Done& entry) { return entry.path == path; });
    }
    std::wstring wanted;              // waited for by the window thread: kept past the budget
    bool ending = false;              // told to end, or the thread has ended
};

// The panel's decoder, window thread only; null when there is none.
std::shared_ptr<Ahead>& Current() {
    static std::shared_ptr<Ahead> current;
    return current;
}

ImagePtr DecodePicture(const wchar_t* path);

// The picture drawn again at the scale, within the size a picture is held
// at; the picture as it is where that cannot be had.
ImagePtr AtScale(ImagePtr picture, float scale) {
    UINT width = 0, height = 0;
    GdipGetImageWidth(picture.get(), &width);
    GdipGetImageHeight(picture.get(), &height);
    const UINT scaledWidth = UINT(std::lround(width * scale));
    const UINT scaledHeight = UINT(std::lround(height * scale));
    if (scaledWidth > kPictureHeldWidth || scaledHeight > kPictureHeldHeight)
        return picture;
    ImagePtr scaled = ScaledPicture(picture.get(), scaledWidth, scaledHeight, scale);
    return scaled ? std::move(scaled) : std::move(picture);
}

uint64_t HeldBytes(GpImage* image) {
    UINT width = 0, height = 0;
    GdipGetImageWidth(image, &width);
    GdipGetImageHeight(image, &height);
    return uint64_t(width) * height * 4;
}

void DecodeAhead(Ahead& ahead) {
    std::unique_lock<std::mutex> hold(ahead.lock, std::defer_lock);
    // However the thread ends, nobody waits for it any more.
    struct Ended {
        Ahead& ahead;
        std::unique_lock<std::mutex>& hold;
        ~Ended() {
            if (!hold.owns_lock())
                hold.lock();
            ahead.ending = true;
            ahead.decoding.clear();
            ahead.changed.notify_all();
        }
    } ended{ahead, hold};
    hold.lock();
    for (;;) {
        ahead.changed.wait(hold, [&] { return ahead.ending || !ahead.queued.empty(); });
        if (ahead.ending)
            return;
        ahead.decoding = std::move(ahead.queued.front());
        ahead.queued.pop_front();
        const float scale = ahead.scale;
        hold.unlock();
        ImagePtr picture;
        // A picture that throws is left to whoever asks for it.
        Guarded([&] {
            picture = DecodePicture(ahead.decoding.c_str());
            // A feed's picture, on a scaled screen, is drawn again at the
            // screen's size here rather than on the window thread as it is
            // first shown (a city's map at 200 %: tens of milliseconds).
            if (picture && scale != 1 && ScaledPicturePath(ahead.decoding, 2) == ahead.decoding)
                picture = AtScale(std::move(picture), scale);
        });
        const uint64_t bytes = picture ? HeldBytes(picture.get()) : 0;
        hold.lock();
        // Past the budget the picture is let go, and decoded when needed.
        if (ahead.doneBytes + bytes <= ahead.budget || ahead.decoding == ahead.wanted) {
            ahead.doneBytes += bytes;
            ahead.done.push_back({std::move(ahead.decoding), std::move(picture), bytes});
        } else {
            hold.unlock();
            picture.reset();
            hold.lock();
        }
        ahead.decoding.clear();
        ahead.changed.notify_all();
    }
}

// The picture decoded ahead for the path, once; null when there is none,
// and the path is then no longer decoded ahead. Waits only for a picture
// the thread is decoding now.
ImagePtr TakePrefetched(const wchar_t* path) {
    const std::shared_ptr<Ahead>& ahead = Current();
    if (!ahead)
        return nullptr;
    std::unique_lock<std::mutex> hold(ahead->lock);
    auto queued = std::find(ahead->queued.begin(), ahead->queued.end(), path);
    if (queued != ahead->queued.end()) {
        ahead->queued.erase(queued);  // decoded here at once rather than waited for
        return nullptr;
    }
    ahead->wanted = path;
    ahead->changed.wait(hold, [&] { return ahead->decoding != path || ahead->ending; });
    ahead->wanted.clear();
    auto found = ahead->FindDone(path);
    if (found == ahead->done.end())
        return nullptr;
    ImagePtr picture = std::move(found->picture);
    ahead->doneBytes -= found->bytes;
    ahead->done.erase(found);
    return picture;
}

}  // namespace

void PrefetchPictures(std::vector<std::wstring> paths) {
    std::shared_ptr<Ahead>& current = Current();
    bool ended = false;
    if (current) {
        std::lock_guard<std::mutex> hold(current->lock);
        ended = current->ending;  // its thread gave up
    }
    if (!current || ended) {
        current.reset();
        auto ahead = std::make_shared<Ahead>();
        if (!StartOwnThread([ahead] { DecodeAhead(*ahead); }))
            return;  // every picture is then decoded when it is asked for
        current = std::move(ahead);
    }
    std::lock_guard<std::mutex> hold(current->lock);
    const float factor = DrawingFactor(PictureScale());
    current->budget = uint64_t(double(kPicturesAheadBytes) * factor * factor);
    current->scale = PictureScale();
    for (std::wstring& path : paths) {
        // Decoded as LoadScaledPicture will ask for it.
        path = ScaledPicturePath(path, PictureScale());
        const bool known =
            path.empty() || path == current->decoding ||
            std::find(current->queued.begin(), current->queued.end(), path) !=
                current->queued.end() ||
            current->FindDone(path) != current->done.end();
        if (!known && current->queued.size() < kPicturesAheadQueued)
            current->queued.push_back(std::move(path));
    }
    current->changed.notify_all();
}

bool PrefetchIdle() {
    const std::shared_ptr<Ahead>& ahead = Current();
    if (!ahead)
        return true;
    std::lock_guard<std::mutex> hold(ahead->lock);
    return ahead->queued.empty() && ahead->decoding.empty();
}

void EndPrefetch() {
    std::shared_ptr<Ahead> ahead = std::move(Current());
    if (!ahead)
        return;
    std::vector<Ahead::Done> unclaimed;
    {
        std::lock_guard<std::mutex> hold(ahead->lock);
        ahead->ending = true;
        ahead->queued.clear();
        unclaimed.swap(ahead->done);
        ahead->doneBytes = 0;
        ahead->changed.notify_all();
    }
    // The thread is decoding one picture at most; it ends by itself after
    // it, and lets go of that one with the record.
}

ImagePtr LoadPicture(const wchar_t* path) {
    if (!path)
        return nullptr;
    if (ImagePtr early = TakePrefetched(path))
        return early;
    return DecodePicture(path);
}

namespace {

// The picture file's bytes, when it is no larger than a picture may be.
bool ReadPictureFile(const wchar_t* path, std::string& data) {
    const std::wstring full = ModuleRelativePath(path);
    HANDLE file = full.empty() ? INVALID_HANDLE_VALUE
                               : CreateFileW(full.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    DWORD read = 0;
    bool whole = GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
                 uint64_t(size.QuadPart) <= kPictureFileBytes;
    if (whole) {
        data.resize(size_t(size.QuadPart));
        whole = ReadFile(file, &data[0], DWORD(data.size()), &read, nullptr) &&
                read == data.size();
    }
    CloseHandle(file);
    return whole;
}

ImagePtr DecodePicture(const wchar_t* path) {
    // Read once and decoded from those very bytes, so that what was
    // weighed is what is decoded, whoever replaces the file meanwhile.
    std::string data;
    uint32_t width = 0, height = 0;
    if (!ReadPictureFile(path, data) ||
        !DeclaredPictureSize(reinterpret_cast<const BYTE*>(data.data()), data.size(), width,
                             height) ||
        width == 0 || height == 0 || !DeclaredSizeWithin(width, height))
        return nullptr;
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(data.data()),
                                        UINT(data.size()));
    if (!stream)
        return nullptr;
    GpImage* image = nullptr;
    GpStatus status = GdipLoadImageFromStream(stream, &image);
    stream->Release();  // the image holds its own reference while it needs one
    ImagePtr owner(image);
    if (status != Ok)
        return nullptr;
    ImageType type = ImageTypeUnknown;
    GdipGetImageType(image, &type);
    if (type != ImageTypeBitmap)
        return nullptr;
    return OnSection(image);
}

}  // namespace

PathPtr RoundRectPath(float x, float y, float width, float height, float radius) {
    GpPath* created = nullptr;
    if (GdipCreatePath(FillModeAlternate, &created) != Ok)
        return nullptr;
    PathPtr path(created);
    // Every corner box is placed on whole pixels.
    REAL side = REAL(int(2 * radius));
    REAL left = REAL(int(x)), top = REAL(int(y));
    REAL right = REAL(int(x + width - 2 * radius)), bottom = REAL(int(y + height - 2 * radius));
    GdipAddPathArc(created, left, top, side, side, 180, 90);
    GdipAddPathArc(created, right, top, side, side, 270, 90);
    GdipAddPathArc(created, right, bottom, side, side, 0, 90);
    GdipAddPathArc(created, left, bottom, side, side, 90, 90);
    GdipClosePathFigure(created);
    return path;
}

}  // namespace gdip

ImageUse::ImageUse(ImageUse&& other) noexcept
    : canvas_(std::exchange(other.canvas_, nullptr)),
      image_(std::exchange(other.image_, nullptr)) {}

ImageUse& ImageUse::operator=(ImageUse&& other) noexcept {
    if (this != &other) {
        reset();
        canvas_ = std::exchange(other.canvas_, nullptr);
        image_ = std::exchange(other.image_, nullptr);
    }
    return *this;
}

void ImageUse::reset() {
    if (canvas_ && image_)
        canvas_->ReleaseImage(image_);
    canvas_ = nullptr;
    image_ = nullptr;
}

namespace {

// Whether GDI in this process already offers the shipped family with both
// of its faces. Wine's GDI+ hands every font file added to a private
// collection to GDI as a memory font and never removes it, so adding the
// files again at each attach would keep one more copy of them every time;
// once they are there, the process's own fonts serve. Windows' GDI+ keeps
// private fonts to itself: there this holds only where the family is
// installed, and the installed family serves as well.
bool ProcessHasShippedFaces() {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, kRegularFamily, LF_FACESIZE - 1);
    struct Faces {
        bool regular = false;
        bool bold = false;
    } faces;
    gdi::MemoryDC dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    EnumFontFamiliesExW(
        dc.get(), &wanted,
        [](const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM param) -> int {
            auto* found = reinterpret_cast<Faces*>(param);
            if (type & TRUETYPE_FONTTYPE) {
                if (font->lfWeight >= FW_BOLD)
                    found->bold = true;
                else if (!font->lfItalic)
                    found->regular = true;
            }
            return 1;
        },
        LPARAM(&faces), 0);
    return faces.regular && faces.bold;
}

}  // namespace

namespace {

}  // namespace

Canvas::Canvas(HWND window, bool writeAhead) : window_(window) {
    SetPictureScale(scale_);
    gdi::WindowDC dc(window);
    memoryDC_.reset(CreateCompatibleDC(dc.get()));
    RebuildBackBuffer();
    DIBSECTION section{};
    if (!writeAhead || !backBuffer_ ||
        GetObjectW(backBuffer_.get(), sizeof(section), &section) != sizeof(section))
        return;
    void* bits = section.dsBm.bmBits;
    const size_t size = size_t(section.dsBm.bmWidthBytes) * size_t(section.dsBm.bmHeight);
    // The buffer outlives the thread: the canvas waits for it before the
    // first paint and before the buffer goes.
    writer_ = StartOwnThread([bits, size] { std::memset(bits, 0, size); });
}

Canvas::~Canvas() {
    WaitForBackBuffer();
}

void Canvas::WaitForBackBuffer() {
    if (!writer_)
        return;
    WaitForSingleObject(writer_.get(), INFINITE);
    writer_.reset();
}

Canvas::DrawingOnLayer::DrawingOnLayer(Canvas& canvas, Layer& layer)
    : canvas_(canvas), layer_(layer), previous_(canvas.target_) {
    canvas_.graphics.native.swap(layer_.graphics.native);
    canvas_.target_ = &layer_;
}

Canvas::DrawingOnLayer::~DrawingOnLayer() {
    canvas_.graphics.native.swap(layer_.graphics.native);
    canvas_.target_ = previous_;
}

void Canvas::SetScale(float scale) {
    scale_ = scale > 0 ? scale : 1;
    SetPictureScale(scale_);
    keptText_.Clear();
    SetTransform(0, 0);
}

void Canvas::SetTransform(float dx, float dy) {
    if (!graphics)
        return;
    graphics.Check(GdipResetWorldTransform(graphics.get()));
    if (scale_ != 1)
        graphics.Check(GdipScaleWorldTransform(graphics.get(), scale_, scale_, MatrixOrderAppend));
    if (dx != 0 || dy != 0)
        graphics.Check(GdipTranslateWorldTransform(graphics.get(), dx, dy, MatrixOrderAppend));
}

void Canvas::RedrawParts(Layer& layer, const std::vector<RECT>& parts, float dx, float dy,
                         const std::function<void(const RECT&)>& draw) {
    DrawingOnLayer drawing(*this, layer);
    const RECT whole{0, 0, layer.width(), layer.height()};
    for (RECT part : parts) {
        if (!IntersectRect(&part, &part, &whole))
            continue;
        layer.Clear(part);
        graphics.Check(GdipResetWorldTransform(graphics.get()));
        graphics.Check(GdipSetClipRectI(graphics.get(), part.left, part.top,
                                        part.right - part.left, part.bottom - part.top,
                                        CombineModeReplace));
        SetTransform(dx, dy);
        Layer* outerLayer = std::exchange(redrawnLayer_, &layer);
        RECT outerPart = std::exchange(redrawnPart_, part);
        draw(part);
        redrawnLayer_ = outerLayer;
        redrawnPart_ = outerPart;
        layer.MarkChanged(part.top, part.bottom);
    }
    graphics.Check(GdipResetClip(graphics.get()));
    graphics.Check(GdipResetWorldTransform(graphics.get()));
}

void Canvas::RebuildBackBuffer() {
    gdi::WindowDC screen(GetDesktopWindow());
    RECT client{};
    if (!window_ || !GetClientRect(window_, &client) || client.right <= 0 || client.bottom <= 0)
        client = RECT{0, 0, GetDeviceCaps(screen.get(), HORZRES),
                      GetDeviceCaps(screen.get(), VERTRES)};

    // The graphics holds memoryDC; let it go before the bitmap under it changes.
    WaitForBackBuffer();
    graphics.native.reset();
    if (!memoryDC_)
        return;
    // A DIB section rather than a compatible bitmap: its pixels are pages
    // of their own, given back whole when it is deleted. Wine takes a
    // compatible bitmap's pixels from the C heap of its Unix side, which
    // after the first screen-sized block keeps such blocks once they are
    // freed: from the second attach on, a closed panel would leave a whole
    // back buffer behind in the shell.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    gdi::Bitmap bitmap(
        CreateDIBSection(memoryDC_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return;
    selection_.Select(memoryDC_.get(), bitmap.get());
    backBuffer_ = std::move(bitmap);

    GpGraphics* created = nullptr;
    if (graphics.Check(GdipCreateFromHDC(memoryDC_.get(), &created)) != Ok)
        return;
    UsePanelDrawing(graphics, created);
    SetTransform(0, 0);
}

ImageUse Canvas::AcquireImage(const wchar_t* path) {
    if (!path)
        return ImageUse();
    // The drawing for another scale stays with the uses it has.
    for (ImageEntry& entry : images_) {
        if (entry.key == path && entry.scale == scale_) {
            ++entry.useCount;
            return ImageUse(this, entry.image.get());
        }
    }
    ImagePtr image = LoadScaledPicture(path);
    if (!image)
        return ImageUse();
    images_.push_back(ImageEntry{path, scale_, std::move(image), 1});
    return ImageUse(this, images_.back().image.get());
}

bool Canvas::HoldsImage(const std::wstring& path) const {
    return std::any_of(images_.begin(), images_.end(),
                       [&](const ImageEntry& entry) {
                           return entry.key == path && entry.scale == scale_;
                       });
}

void Canvas::ReleaseImage(GpImage* image) {
    auto found = std::find_if(images_.begin(), images_.end(),
                              [image](const ImageEntry& e) { return e.image.get() == image; });
    if (found == images_.end())
        return;
    if (--found->useCount < 1) {
        if (found->scaledCopy) {
            UINT width = 0, height = 0;
            GdipGetImageWidth(found->scaledCopy.get(), &width);
            GdipGetImageHeight(found->scaledCopy.get(), &height);
            copyBytes_ -= uint64_t(width) * height * 4;
        }
        images_.erase(found);
    }
}

int Canvas::ImageUseCount(const GpImage* image) const {
    for (const ImageEntry& entry : images_)
        if (entry.image.get() == image)
            return entry.useCount;
    return 0;
}

FontFamilyPtr Canvas::FindFamily(const wchar_t* family) {
    GpFontFamily* found = nullptr;
    // Once fonts are shipped, only their families are looked up by name.
    if (family && GdipCreateFontFamilyFromName(family, privateFonts_.get(), &found) == Ok)
        return FontFamilyPtr(found);
    found = nullptr;
    GdipGetGenericFontFamilySansSerif(&found);
    return FontFamilyPtr(found);
}

GpFont* Canvas::GetFont(const wchar_t* family, int size, int style) {
    // Pages name the bold face as a family of its own; the shipped files
    // make it the bold style of the regular family.
    if (family && std::wcscmp(family, kBoldFamily) == 0) {
        family = kRegularFamily;
        style |= FontBold;
    }
    std::wstring name = family ? family : L"";
    for (FontEntry& entry : fonts_) {
        if (entry.family == name && entry.size == size && entry.style == style)
            return entry.font.get();
    }
    FontEntry entry{name, size, style, {}};
    FontFamilyPtr found = FindFamily(family);
    GpFont* font = nullptr;
    if (entry.font.Check(GdipCreateFont(found.get(), REAL(size), style & 7, UnitPixel, &font)) !=
        Ok) {
        // The family may lack the style (a bold-only face asked for regular).
        FontFamilyPtr fallback = FindFamily(nullptr);
        font = nullptr;
        entry.font.Check(GdipCreateFont(fallback.get(), REAL(size), style & 7, UnitPixel, &font));
    }
    entry.font.native.reset(font);
    fonts_.push_back(std::move(entry));
    return fonts_.back().font.get();
}

void Canvas::AddPrivateFont(const wchar_t* path) {
    if (!privateFonts_) {
        GpFontCollection* collection = nullptr;
        if (privateFonts_.Check(GdipNewPrivateFontCollection(&collection)) != Ok)
            return;
        privateFonts_.native.reset(collection);
    }
    privateFonts_.Check(
        GdipPrivateAddFontFile(privateFonts_.get(), ModuleRelativePath(path).c_str()));
}

void Canvas::AddShippedFonts() {
    if (ProcessHasShippedFaces())
        return;
    for (const wchar_t* file : kShippedFontFiles)
        AddPrivateFont(file);
}

void Canvas::DrawImage(GpImage* image, float x, float y) {
    if (!image || !graphics)
        return;
    float width = 0, height = 0;
    PictureSize(image, width, height);
    DrawImage(image, x, y, width, height);
}

GpImage* Canvas::DrawingOf(GpImage* image) {
    for (ImageEntry& entry : images_) {
        if (entry.image.get() != image)
            continue;
        if (entry.scale == scale_)
            return image;
        if (entry.redrawnScale != scale_) {
            entry.redrawnScale = scale_;
            entry.redrawn = LoadScaledPicture(entry.key.c_str());
        }
        return entry.redrawn ? entry.redrawn.get() : image;
    }
    return image;
}

GpImage* Canvas::ScaledCopyOf(GpImage* image, float width, float height) {
    if (scale_ == 1 || !target_ || PictureFactor(image) == scale_ || width <= 0 || height <= 0)
        return nullptr;
    const UINT copyWidth = UINT(std::lround(width * scale_));
    const UINT copyHeight = UINT(std::lround(height * scale_));
    for (ImageEntry& entry : images_) {
        if (entry.image.get() != image && entry.redrawn.get() != image)
            continue;
        UINT heldWidth = 0, heldHeight = 0;
        if (entry.scaledCopy) {
            GdipGetImageWidth(entry.scaledCopy.get(), &heldWidth);
            GdipGetImageHeight(entry.scaledCopy.get(), &heldHeight);
        }
        if (!entry.scaledCopy || entry.copyScale != scale_ || heldWidth != copyWidth ||
            heldHeight != copyHeight) {
            const uint64_t bytes = uint64_t(copyWidth) * copyHeight * 4;
            copyBytes_ -= uint64_t(heldWidth) * heldHeight * 4;
            entry.scaledCopy.reset();
            // Within the budget: past it every other copy goes, and is made
            // again when it is drawn again.
            if (copyBytes_ + bytes > kScaledCopyBytes) {
                for (ImageEntry& other : images_)
                    other.scaledCopy.reset();
                copyBytes_ = 0;
            }
            if (bytes > kScaledCopyBytes)
                return nullptr;
            entry.scaledCopy = ScaledPicture(image, copyWidth, copyHeight, scale_);
            entry.copyScale = scale_;
            if (entry.scaledCopy)
                copyBytes_ += bytes;
        }
        return entry.scaledCopy.get();
    }
    return nullptr;
}

void Canvas::DrawImage(GpImage* image, float x, float y, float width, float height) {
    if (!image || !graphics)
        return;
    image = DrawingOf(image);
    // A feed's picture on a scaled screen: scaling it at every paint costs
    // GDI+ tens of milliseconds for a map.
    if (GpImage* copy = ScaledCopyOf(image, width, height)) {
        if (BlendPicture(copy, x, y, width, height, 0, 0))
            return;
    }
    // BlendPicture tells whether the picture can be blended.
    float imageWidth = 0, imageHeight = 0;
    if (target_)
        PictureSize(image, imageWidth, imageHeight);
    if (width == imageWidth && height == imageHeight &&
        BlendPicture(image, x, y, width, height, 0, 0))
        return;
    graphics.Check(GdipDrawImageRect(graphics.get(), image, x, y, width, height));
}

bool Canvas::BlendPicture(GpImage* image, float x, float y, float width, float height,
                          int sourceX, int sourceY) {
    const Section* section = target_ ? FindSection(image) : nullptr;
    if (!section)
        return false;
    // Only the canvas's scale, with a drawing made for it, and a move by
    // whole pixels. On a scaled screen a place between pixels is taken to
    // the nearest, which keeps the picture sharp.
    float dx = 0, dy = 0;
    if (!WorldOffset(dx, dy) || section->factor != scale_)
        return false;
    float left = x * scale_ + dx, top = y * scale_ + dy;
    if (scale_ != 1) {
        left = std::round(left);
        top = std::round(top);
    }
    if (left != float(int(left)) || top != float(int(top)))
        return false;
    // The part of the picture in its own pixels; a whole picture whole,
    // whatever half pixel its drawing rounded.
    UINT pixelsWide = 0, pixelsHigh = 0;
    GdipGetImageWidth(image, &pixelsWide);
    GdipGetImageHeight(image, &pixelsHigh);
    const RECT source{
        LONG(std::lround(sourceX * section->factor)), LONG(std::lround(sourceY * section->factor)),
        std::min(LONG(pixelsWide), LONG(std::lround((sourceX + width) * section->factor))),
        std::min(LONG(pixelsHigh), LONG(std::lround((sourceY + height) * section->factor)))};
    // The clip, in the layer's pixels.
    GpRegion* clip = nullptr;
    if (GdipCreateRegion(&clip) != Ok)
        return false;
    RegionPtr clipOwner(clip);
    BOOL infinite = FALSE;
    HRGN made = nullptr;
    if (GdipGetClip(graphics.get(), clip) != Ok ||
        GdipIsInfiniteRegion(clip, graphics.get(), &infinite) != Ok ||
        (!infinite && GdipGetRegionHRgn(clip, graphics.get(), &made) != Ok))
        return false;
    gdi::Region area(made);
    if (!pictureDC_)
        pictureDC_.reset(CreateCompatibleDC(nullptr));
    if (!pictureDC_)
        return false;
    HDC dest = target_->dc();
    graphics.Check(GdipFlush(graphics.get(), FlushIntentionSync));
    if (area)
        SelectClipRgn(dest, area.get());
    HGDIOBJ previous = SelectObject(pictureDC_.get(), section->bitmap);
    CopyByRuns(dest, int(left) - source.left, int(top) - source.top, pictureDC_.get(),
               section->runs, source);
    SelectObject(pictureDC_.get(), previous);
    if (area)
        SelectClipRgn(dest, nullptr);
    GdiFlush();
    return true;
}

void Canvas::DrawImagePart(GpImage* image, int x, int y, int sourceX, int sourceY, int width,
                           int height) {
    if (!image || !graphics || width <= 0 || height <= 0)
        return;
    image = DrawingOf(image);
    // BlendPicture tells whether the picture can be blended.
    float imageWidth = 0, imageHeight = 0;
    if (target_)
        PictureSize(image, imageWidth, imageHeight);
    if (sourceX >= 0 && sourceY >= 0 && float(sourceX + width) <= imageWidth &&
        float(sourceY + height) <= imageHeight &&
        BlendPicture(image, float(x), float(y), float(width), float(height), sourceX, sourceY))
        return;
    // The source in the picture's own pixels: a drawing for a scale has more.
    const float factor = PictureFactor(image);
    if (factor == 1) {
        graphics.Check(GdipDrawImageRectRectI(graphics.get(), image, x, y, width, height, sourceX,
                                              sourceY, width, height, UnitPixel, nullptr,
                                              nullptr, nullptr));
        return;
    }
    graphics.Check(GdipDrawImageRectRect(
        graphics.get(), image, float(x), float(y), float(width), float(height),
        sourceX * factor, sourceY * factor, width * factor, height * factor, UnitPixel, nullptr,
        nullptr, nullptr));
}

void Canvas::DrawText(const wchar_t* text, GpFont* font, ARGB colour, float x, float y) {
    DrawText(text, font, colour, RectF(x, y, 0, 0));
}

bool Canvas::DrawKeptText(const wchar_t* text, GpFont* font, ARGB colour, float x, float y) {
    // Reading the clip back from GDI+ costs as much as copying the line:
    // only a part being redrawn, whose clip is known, takes kept lines.
    float dx = 0, dy = 0;
    if (redrawnLayer_ != target_ || !WorldOffset(dx, dy))
        return false;
    return keptText_.Draw(*target_, redrawnPart_, text, font, colour, x * scale_ + dx,
                          y * scale_ + dy, FontHeight(font) * scale_, scale_);
}

void Canvas::DrawText(const wchar_t* text, GpFont* font, ARGB colour, const RectF& box) {
    if (!text || !graphics)
        return;
    if (target_ && target_->opaque() && box.Width == 0 && box.Height == 0 &&
        DrawKeptText(text, font, colour, box.X, box.Y))
        return;
    BrushPtr brush = MakeSolidBrush(colour);
    graphics.Check(GdipDrawString(graphics.get(), text, -1, font, &box, nullptr, brush.get()));
}

void Canvas::FillRect(float x, float y, float width, float height, ARGB colour) {
    BrushPtr brush = MakeSolidBrush(colour);
    if (graphics && brush)
        graphics.Check(GdipFillRectangle(graphics.get(), brush.get(), x, y, width, height));
}

void Canvas::FillRoundRect(float x, float y, float width, float height, float radius,
                           ARGB colour) {
    PathPtr path = graphics ? RoundRectPath(x, y, width, height, radius) : nullptr;
    if (!path)
        return;
    BrushPtr brush = MakeSolidBrush(colour);
    graphics.Check(GdipFillPath(graphics.get(), brush.get(), path.get()));
}

float Canvas::MeasureCharWidth(wchar_t character, GpFont* font) {
    return MeasureText(std::wstring(1, character).c_str(), font, 0, 0).Width;
}

RectF Canvas::MeasureText(const wchar_t* text, GpFont* font, float layoutWidth,
                          float layoutHeight) {
    return MeasureRun(text, -1, font, layoutWidth, layoutHeight, nullptr);
}

RectF Canvas::MeasureRun(const wchar_t* text, int length, GpFont* font, float layoutWidth,
                         float layoutHeight, int* fitted, int* lines) {
    RectF bounds(0, 0, 0, 0);
    INT codepoints = 0, filled = 0;
    if (text && graphics) {
        RectF layout(0, 0, layoutWidth, layoutHeight);
        graphics.Check(GdipMeasureString(graphics.get(), text, length, font, &layout, nullptr,
                                         &bounds, &codepoints, &filled));
    }
    if (fitted)
        *fitted = codepoints;
    if (lines)
        *lines = filled;
    return bounds;
}

float Canvas::FontHeight(GpFont* font) {
    REAL height = 0;
    if (font && graphics)
        graphics.Check(GdipGetFontHeight(font, graphics.get(), &height));
    return height;
}

bool Canvas::WorldOffset(float& dx, float& dy) {
    GpMatrix* matrix = nullptr;
    if (!graphics || graphics.Check(GdipCreateMatrix(&matrix)) != Ok)
        return false;
    REAL m[6] = {};
    bool read = graphics.Check(GdipGetWorldTransform(graphics.get(), matrix)) == Ok &&
                graphics.Check(GdipGetMatrixElements(matrix, m)) == Ok;
    GdipDeleteMatrix(matrix);
    if (!read)
        return false;
    dx = m[4];
    dy = m[5];
    return m[0] == scale_ && m[1] == 0 && m[2] == 0 && m[3] == scale_;
}

void Canvas::PushTranslation() {
    float dx = 0, dy = 0;
    WorldOffset(dx, dy);
    transformStack.emplace_back(dx, dy);
}

void Canvas::PopTranslation() {
    float dx = 0, dy = 0;
    if (!transformStack.empty()) {
        std::tie(dx, dy) = transformStack.back();
        transformStack.pop_back();
    }
    SetTransform(dx, dy);
}
