// Owner types for the GDI+ flat API and a few GDI handles.
//
// Every native object the widget creates is held by one of these, so no path
// can leak or free one twice. The flat API's statuses are kept, not acted on:
// wrappers that need it remember the last failing status.
#pragma once

#include "base/Handles.h"

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gdip {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

template <class T, GpStatus(WINGDIPAPI* Delete)(T*)>
struct Deleter {
    void operator()(T* object) const {
        if (object)
            Delete(object);
    }
};

struct FontCollectionDeleter {
    void operator()(GpFontCollection* collection) const {
        if (collection)
            GdipDeletePrivateFontCollection(&collection);
    }
};

// Disposes an image and, when it is a picture loaded with a premultiplied
// copy (LoadPicture), the pixels under it.
GpStatus WINGDIPAPI DisposeImage(GpImage* image);

using GraphicsPtr = std::unique_ptr<GpGraphics, Deleter<GpGraphics, GdipDeleteGraphics>>;
using RegionPtr = std::unique_ptr<GpRegion, Deleter<GpRegion, GdipDeleteRegion>>;
using ImagePtr = std::unique_ptr<GpImage, Deleter<GpImage, DisposeImage>>;
using BitmapPtr = std::unique_ptr<GpBitmap, Deleter<GpImage, DisposeImage>>;
using CachedBitmapPtr =
    std::unique_ptr<GpCachedBitmap, Deleter<GpCachedBitmap, GdipDeleteCachedBitmap>>;
using BrushPtr = std::unique_ptr<GpBrush, Deleter<GpBrush, GdipDeleteBrush>>;
using PathPtr = std::unique_ptr<GpPath, Deleter<GpPath, GdipDeletePath>>;
using FontPtr = std::unique_ptr<GpFont, Deleter<GpFont, GdipDeleteFont>>;
using FontFamilyPtr = std::unique_ptr<GpFontFamily, Deleter<GpFontFamily, GdipDeleteFontFamily>>;
using FontCollectionPtr = std::unique_ptr<GpFontCollection, FontCollectionDeleter>;
using StringFormatPtr =
    std::unique_ptr<GpStringFormat, Deleter<GpStringFormat, GdipDeleteStringFormat>>;

// A native object together with the last status that was not Ok.
template <class Ptr>
struct Tracked {
    Ptr native;
    GpStatus lastStatus = Ok;

    auto get() const { return native.get(); }
    explicit operator bool() const { return native != nullptr; }
    GpStatus Check(GpStatus status) {
        if (status != Ok)
            lastStatus = status;
        return status;
    }
};

using GraphicsObject = Tracked<GraphicsPtr>;
using RegionObject = Tracked<RegionPtr>;
using FontObject = Tracked<FontPtr>;
using FontCollectionObject = Tracked<FontCollectionPtr>;

// GDI+ running for the holder's lifetime: started by the constructor, shut
// down by the destructor, once every object made with it is gone.
class Session {
public:
    Session() {
        GdiplusStartupInput input;  // version 1, no debug callback, background thread
        if (GdiplusStartup(&token_, &input, nullptr) != Ok)
            token_ = 0;
    }
    ~Session() {
        if (token_)
            GdiplusShutdown(token_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    ULONG_PTR token_ = 0;
};

// A solid brush of an ARGB colour, or null when GDI+ refuses one.
inline BrushPtr MakeSolidBrush(ARGB colour) {
    GpSolidFill* fill = nullptr;
    if (GdipCreateSolidFill(colour, &fill) != Ok)
        return nullptr;
    return BrushPtr(fill);
}

// A closed rounded rectangle whose corners are quarter circles of the
// radius, their boxes on whole pixels; null when it cannot be made.
PathPtr RoundRectPath(float x, float y, float width, float height, float radius);

// Puts the graphics' clip back as it was when the scope began.
class SavedClip {
public:
    explicit SavedClip(GraphicsObject& graphics) : graphics_(graphics) {
        GpRegion* region = nullptr;
        if (!graphics_ || GdipCreateRegion(&region) != Ok)
            return;
        region_.reset(region);
        if (graphics_.Check(GdipGetClip(graphics_.get(), region)) != Ok)
            region_.reset();
    }
    ~SavedClip() {
        if (region_)
            graphics_.Check(GdipSetClipRegion(graphics_.get(), region_.get(), CombineModeReplace));
    }
    SavedClip(const SavedClip&) = delete;
    SavedClip& operator=(const SavedClip&) = delete;

private:
    GraphicsObject& graphics_;
    RegionPtr region_;  // in world coordinates, which painting leaves as it found them
};

// Loads a picture (ours or a feed's), relative to the library's folder;
// null when it is missing or unreadable, or past the picture budgets
// (base/Budgets.h): a file too large, a size declared too large, or a
// format other than PNG, JPEG, GIF and BMP. Drawing null draws nothing. It
// comes back drawn on premultiplied pixels in a DIB section, which the
// canvas blends with GDI where it is drawn at its own size, scaled down to
// the held size when larger.
ImagePtr LoadPicture(const wchar_t* path);

// Our own pictures (those under images/) are drawn at 1x, 1.5x and 2x of
// the size the design gives them, as name.png, name@1.5x.png and
// name@2x.png. The scale they are chosen for is the screen's, as the
// canvas last set it (1 for 100 %); window thread only.
void SetPictureScale(float scale);
float PictureScale();
// The file of our picture drawn for a scale: the nearest drawing at least
// that large, the largest past 2x; the path itself at 1x, and for any
// picture that is not ours.
std::wstring ScaledPicturePath(const std::wstring& path, float scale);
// LoadPicture of the drawing for PictureScale(), or of the path itself when
// that drawing cannot be had.
ImagePtr LoadScaledPicture(const wchar_t* path);
// A picture from LoadPicture drawn again at another size, with the factor
// given (its pixels per pixel of the design at that size); null when that
// cannot be had.
ImagePtr ScaledPicture(GpImage* picture, UINT width, UINT height, float factor);
// How many of the picture's pixels stand for one pixel of the design: 1,
// 1.5 or 2 for our drawings, 1 for every other image.
float PictureFactor(const GpImage* image);
// The picture's size in pixels of the design (its pixels over its factor);
// zero for null.
void PictureSize(GpImage* image, float& width, float& height);

// The width and height that a PNG, GIF, BMP or JPEG header declares, read
// from the file's first bytes before anything is decoded; false for any
// other or a header cut short.
bool DeclaredPictureSize(const BYTE* data, size_t size, uint32_t& width, uint32_t& height);

// The DIB sections that decoded pictures hold now, one GDI object each.
size_t PictureSectionCount();

// Queues pictures to be decoded ahead of need on the panel's decoding
// thread (started by the first call), in the order given, after those
// already queued; LoadPicture hands each over when it is asked for. So what
// the first paint needs is decoded while the window thread builds the rest,
// and a tab's pictures before the tab is first shown. A picture asked for
// before its turn is decoded by the asker; one being decoded is waited for.
// What is decoded and not yet asked for is held within a budget of bytes.
// Window thread only.
void PrefetchPictures(std::vector<std::wstring> paths);
// Lets go of what nobody asked for and of the queue. The thread ends by
// itself after the picture it is decoding, if any: nobody waits for it.
void EndPrefetch();
// Whether no picture waits to be decoded ahead or is being decoded: the
// tests wait for it.
bool PrefetchIdle();

// A picture loaded when it is first asked for, so that nothing that is never
// drawn is decoded (the panel starts faster and smaller). One that fails to
// load is not tried again. Window thread only.
class LazyPicture {
public:
    LazyPicture() = default;
    explicit LazyPicture(const wchar_t* path) : path_(path ? path : L"") {}
    // Loaded again, once, when the screen's scale changed since.
    GpImage* get() {
        if ((!tried_ || scale_ != PictureScale()) && !path_.empty()) {
            tried_ = true;
            scale_ = PictureScale();
            image_ = LoadScaledPicture(path_.c_str());
        }
        return image_.get();
    }
    bool loaded() const { return image_ != nullptr; }
    // Whether the picture was asked for (and loaded, or failed).
    bool tried() const { return tried_; }

private:
    std::wstring path_;
    ImagePtr image_;
    bool tried_ = false;
    float scale_ = 1;  // the picture scale it was loaded for
};

// The DIB section under a picture from LoadPicture; null for any other image.
// Valid while the image lives.
HBITMAP PictureSection(const GpImage* image);
// The one colour (0xRRGGBB) of a picture from LoadPicture across the area
// (in pixels of the design), when every pixel there is opaque and of that
// colour; nothing otherwise, for any other image, or for an area not wholly
// inside the picture.
std::optional<uint32_t> SolidColour(const GpImage* image, const RECT& area);

}  // namespace gdip

namespace gdi {

template <class Handle>
struct ObjectTraits {
    using Native = Handle;
    static Native Empty() { return nullptr; }
    static void Close(Native object) { DeleteObject(object); }
};

struct MemoryDCTraits {
    using Native = HDC;
    static Native Empty() { return nullptr; }
    static void Close(Native dc) { DeleteDC(dc); }
};

using Region = UniqueHandle<ObjectTraits<HRGN>>;
using Bitmap = UniqueHandle<ObjectTraits<HBITMAP>>;
using MemoryDC = UniqueHandle<MemoryDCTraits>;

// Puts back the object a device context was made with once the holder goes,
// so that whatever was selected into it since can be deleted.
class OriginalSelection {
public:
    OriginalSelection() = default;
    ~OriginalSelection() { Restore(); }
    OriginalSelection(const OriginalSelection&) = delete;
    OriginalSelection& operator=(const OriginalSelection&) = delete;
    // Selects object into dc; the first call remembers what it replaced.
    void Select(HDC dc, HGDIOBJ object) {
        HGDIOBJ previous = SelectObject(dc, object);
        if (!original_) {
            dc_ = dc;
            original_ = previous;
        }
    }

    // Puts the original back now; a later Select starts afresh.
    void Restore() {
        if (original_)
            SelectObject(dc_, original_);
        dc_ = nullptr;
        original_ = nullptr;
    }

private:
    HDC dc_ = nullptr;
    HGDIOBJ original_ = nullptr;
};

// A window's device context, released when the holder goes.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_)
            ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

}  // namespace gdi
