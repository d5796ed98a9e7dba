// Lines of text kept as pixels, for drawing them again on layers of the
// opaque kind (gfx/Layer.h). Setting a line costs GDI+ and, under Wine, GDI
// a tenth of a millisecond or more; a page viewer draws the same lines again
// at every scroll tick and hover change. A line is set once on a scratch
// layer of the target's colour, its changed pixels are kept, and later draws
// copy them.
//
// Kept pixels stand for the line only over that one colour: a line whose
// place on the target is not wholly of it is left to the caller, which sets
// it as usual. The cache holds at most a budget of pixel bytes, dropping the
// lines used longest ago. Window thread only, like the canvas that owns it.
#pragma once

#include "gfx/Layer.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

class TextCache {
public:
    static constexpr size_t kDefaultBudget = 1536 * 1024;

    explicit TextCache(size_t budget = kDefaultBudget) : budget_(budget) {}
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    // Draws one line at (x, y) of the target's pixels, cut to clip (also in
    // them), as GDI+ would set it there with the target's drawing settings
    // and the world scaled by scale. lineHeight is the font's line spacing
    // in the target's pixels. False, with nothing drawn, when
    // the target is not of the opaque kind, the line starts left of it,
    // holds a line break, lies over anything but the target's colour, or
    // the scratch layer cannot be had.
    bool Draw(Layer& target, const RECT& clip, const wchar_t* text, gdip::GpFont* font,
              gdip::ARGB colour, float x, float y, float lineHeight, float scale = 1);
    void Clear();

    size_t bytes() const { return bytes_; }
    size_t lines() const { return entries_.size(); }

private:
    struct Key {
        std::wstring text;
        const gdip::GpFont* font = nullptr;  // borrowed; the canvas keeps its fonts
        gdip::ARGB colour = 0;
        int width = 0;               // of the target: how much of the line shows
        uint32_t fill = 0;           // the colour it was set on, 0xRRGGBB
        float fractionX = 0;         // where it lies within its first pixel
        float fractionY = 0;
        float scale = 1;             // of the world the line was set in
        bool operator==(const Key& other) const;
    };
    struct KeyHash {
        size_t operator()(const Key& key) const;
    };
    struct Entry {
        Key key;
        // The box of the changed pixels, from the whole pixel the line
        // starts in.
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        std::vector<uint8_t> pixels;  // 24-bit BGR rows, width * 3 bytes each
    };
    using Entries = std::list<Entry>;

    // Sets the line on the scratch layer and keeps what changed; null when
    // the scratch cannot be had.
    const Entry* Set(Key key, gdip::GpFont* font, float lineHeight);

    size_t budget_;
    size_t bytes_ = 0;
    Entries entries_;  // the most recently used first
    std::unordered_map<Key, Entries::iterator, KeyHash> index_;
    Layer scratch_;
};
