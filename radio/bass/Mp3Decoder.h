// MP3 to 16-bit PCM through the system's audio compression manager (ACM),
// whose layer III codec ships with Windows (and with Wine).
//
// Opened on the thread that creates the stream, then used by its playing
// thread only.
#pragma once

#include "base/Handles.h"
#include "radio/bass/Mp3Frames.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstdint>
#include <vector>

struct AcmStreamTraits {
    using Native = HACMSTREAM;
    static Native Empty() { return nullptr; }
    static void Close(Native stream) { acmStreamClose(stream, 0); }
};
using AcmStream = UniqueHandle<AcmStreamTraits>;

class Mp3Decoder {
public:
    // Returns a BASS error code: BASS_OK, or BASS_ERROR_FORMAT when no codec
    // takes the stream's format.
    int Open(const Mp3Header& header);

    const WAVEFORMATEX& Pcm() const { return pcm_; }

    // Decodes size bytes of the stream and appends the samples to out; the
    // codec keeps a frame cut at the end of data until the next call.
    bool Decode(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

private:
    AcmStream stream_;
    WAVEFORMATEX pcm_ = {};
    std::vector<uint8_t> input_;   // bytes the codec has not taken yet
    std::vector<uint8_t> output_;  // one conversion's room
};
