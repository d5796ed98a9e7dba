// MPEG audio layer III frame headers: where a stream's audio starts and
// what format it has, before any decoder is opened. Pure functions, any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct Mp3Header {
    int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int bitrate = 0;  // bits per second
    int sampleRate = 0;
    int channels = 0;
    size_t frameBytes = 0;  // this frame, padding included
};

// Reads the four bytes at data as a layer III frame header; false when they
// are none (no sync, reserved values, free-format bitrate).
bool ParseMp3Header(const uint8_t* data, Mp3Header* header);

// Looks for the first frame in data that is followed by two more of the same
// version and sample rate, the test that tells audio from bytes that look
// like a header by chance; *offset receives where it starts. False when the
// data so far holds no such run (more data may).
bool FindMp3Start(const uint8_t* data, size_t size, size_t* offset, Mp3Header* header);

// The size of an ID3v2 tag at the start of data, 0 when there is none; the
// tag comes before the first frame in files and in some streams.
size_t Id3TagBytes(const uint8_t* data, size_t size);
