// Layer III frame headers; see Mp3Frames.h.
#include "radio/bass/Mp3Frames.h"

namespace {

// Consecutive frames the search wants before it trusts a header.
constexpr int kFramesInARow = 3;

// Kilobits per second by bitrate index, for MPEG-1 and for MPEG-2 and 2.5.
constexpr int kBitrates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kSampleRates[3] = {44100, 48000, 32000};  // MPEG-1; halved per version step

}  // namespace

bool ParseMp3Header(const uint8_t* data, Mp3Header* header) {
    if (data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return false;
    int versionBits = data[1] >> 3 & 3;
    int layerBits = data[1] >> 1 & 3;
    int bitrateIndex = data[2] >> 4;
    int rateIndex = data[2] >> 2 & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3 || (data[3] & 3) == 2)
        return false;
    header->version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    bool mpeg1 = header->version == 1;
    header->bitrate = kBitrates[mpeg1 ? 0 : 1][bitrateIndex] * 1000;
    header->sampleRate = kSampleRates[rateIndex] >> (mpeg1 ? 0 : header->version == 2 ? 1 : 2);
    header->channels = (data[3] >> 6) == 3 ? 1 : 2;
    int padding = data[2] >> 1 & 1;
    header->frameBytes = size_t((mpeg1 ? 144 : 72) * header->bitrate / header->sampleRate + padding);
    return true;
}

bool FindMp3Start(const uint8_t* data, size_t size, size_t* offset, Mp3Header* header) {
    for (size_t start = 0; start + 4 <= size; ++start) {
        Mp3Header first;
        if (!ParseMp3Header(data + start, &first))
            continue;
        size_t at = start + first.frameBytes;
        int found = 1;
        for (; found < kFramesInARow && at + 4 <= size; ++found) {
            Mp3Header next;
            if (!ParseMp3Header(data + at, &next) || next.version != first.version ||
                next.sampleRate != first.sampleRate)
                break;
            at += next.frameBytes;
        }
        if (found == kFramesInARow) {
            *offset = start;
            *header = first;
            return true;
        }
        if (at + 4 > size)
            return false;  // this candidate runs past the data so far
    }
    return false;
}

size_t Id3TagBytes(const uint8_t* data, size_t size) {
    if (size < 10 || data[0] != 'I' || data[1] != 'D' || data[2] != '3')
        return 0;
    size_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (data[i] & 0x80)
            return 0;  // not the seven-bit size of a real tag
        body = body << 7 | data[i];
    }
    bool footer = (data[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}
