// MP3 decoding through ACM; see Mp3Decoder.h.
#include "radio/bass/Mp3Decoder.h"

#include "radio/bass/bass.h"

#include <algorithm>
#include <cstring>

namespace {

// The samples of one frame that the layer III codec holds back at the start.
constexpr WORD kCodecDelay = 1393;

// The most the codec is handed per conversion; the output room follows.
constexpr size_t kChunkBytes = 4096;
constexpr size_t kMaxOutputRoom = 1 << 20;

struct AcmHeader {
    ACMSTREAMHEADER header = {};
    HACMSTREAM stream;
    bool prepared = false;
    AcmHeader(HACMSTREAM owner, uint8_t* source, size_t sourceBytes, uint8_t* target,
              size_t targetBytes)
        : stream(owner) {
        header.cbStruct = sizeof header;
        header.pbSrc = source;
        header.cbSrcLength = DWORD(sourceBytes);
        header.pbDst = target;
        header.cbDstLength = DWORD(targetBytes);
        prepared = acmStreamPrepareHeader(stream, &header, 0) == 0;
    }
    ~AcmHeader() {
        if (prepared)
            acmStreamUnprepareHeader(stream, &header, 0);
    }
    AcmHeader(const AcmHeader&) = delete;
    AcmHeader& operator=(const AcmHeader&) = delete;
};

}  // namespace

int Mp3Decoder::Open(const Mp3Header& header) {
    MPEGLAYER3WAVEFORMAT mp3 = {};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = WORD(header.channels);
    mp3.wfx.nSamplesPerSec = DWORD(header.sampleRate);
    mp3.wfx.nAvgBytesPerSec = DWORD(header.bitrate / 8);
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    mp3.nBlockSize = WORD(header.frameBytes);
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = kCodecDelay;

    pcm_ = {};
    pcm_.wFormatTag = WAVE_FORMAT_PCM;
    pcm_.nChannels = WORD(header.channels);
    pcm_.nSamplesPerSec = DWORD(header.sampleRate);
    pcm_.wBitsPerSample = 16;
    pcm_.nBlockAlign = WORD(pcm_.nChannels * 2);
    pcm_.nAvgBytesPerSec = pcm_.nSamplesPerSec * pcm_.nBlockAlign;

    if (acmStreamOpen(stream_.put(), nullptr, &mp3.wfx, &pcm_, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != 0) {
        stream_.release();
        return BASS_ERROR_FORMAT;
    }
    DWORD room = 0;
    if (acmStreamSize(stream_.get(), DWORD(kChunkBytes), &room, ACM_STREAMSIZEF_SOURCE) != 0)
        room = 0;
    // Twice what the codec asks for, and at least a second: a codec that
    // buffers frames internally may hand out more than one chunk's worth.
    output_.resize(std::max<size_t>(size_t(room) * 2, pcm_.nAvgBytesPerSec));
    return BASS_OK;
}

bool Mp3Decoder::Decode(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
    input_.insert(input_.end(), data, data + size);
    size_t taken = 0;
    while (taken < input_.size()) {
        size_t chunk = std::min(kChunkBytes, input_.size() - taken);
        AcmHeader conversion(stream_.get(), input_.data() + taken, chunk, output_.data(),
                             output_.size());
        if (!conversion.prepared ||
            acmStreamConvert(stream_.get(), &conversion.header, ACM_STREAMCONVERTF_BLOCKALIGN) != 0)
            return false;
        const ACMSTREAMHEADER& done = conversion.header;
        out->insert(out->end(), output_.data(), output_.data() + done.cbDstLengthUsed);
        if (done.cbDstLengthUsed == output_.size() && output_.size() < kMaxOutputRoom)
            output_.resize(output_.size() * 2);  // room for what the codec still holds
        if (done.cbSrcLengthUsed == 0)
            break;  // a frame cut short: the next call brings the rest
        taken += done.cbSrcLengthUsed;
    }
    input_.erase(input_.begin(), input_.begin() + std::ptrdiff_t(taken));
    return true;
}
