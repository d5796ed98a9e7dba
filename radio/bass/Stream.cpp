// A stream and its playing thread; see Stream.h.
#include "radio/bass/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// How far into the body the first frames may lie (an ID3 tag not counted):
// beyond this the answer is taken for something else than MP3.
constexpr size_t kMaxScanBytes = 64 * 1024;
constexpr size_t kReadBytes = 4096;
// A stop waits this long for the playing thread, which looks at its stop
// event between any two steps; only a hung device could make it longer.
constexpr DWORD kStopWaitMs = 5000;
// After the last block is queued, the device gets this long to play it out.
constexpr DWORD kDrainMs = WaveOutput::kBlocks * WaveOutput::kBlockMs + 2000;

}  // namespace

int Stream::Create(const Options& options, std::shared_ptr<Stream>* result) {
    std::shared_ptr<Stream> stream(new Stream(options));
    stream->stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stream->stop_)
        return BASS_ERROR_MEM;
    int error = stream->source_.Open(options.url, options.proxy);
    if (options.download && (options.flags & BASS_STREAM_STATUS) &&
        !stream->source_.StatusLine().empty())
        options.download(stream->source_.StatusLine().c_str(), 0, options.user);
    if (error != BASS_OK)
        return error;

    // Up to the first frames, skipping a leading ID3 tag as it comes.
    std::vector<uint8_t> data;
    size_t tagLeft = 0;
    bool tagChecked = false;
    size_t offset = 0;
    Mp3Header header;
    ULONGLONG deadline = GetTickCount64() + kNetTimeoutMs;
    while (!FindMp3Start(data.data(), data.size(), &offset, &header)) {
        if (data.size() >= kMaxScanBytes)
            return BASS_ERROR_FILEFORM;
        uint8_t buffer[kReadBytes];
        size_t count = 0;
        switch (stream->source_.Read(buffer, std::min(sizeof buffer, kMaxScanBytes - data.size()),
                                     &count, nullptr, MsUntil(deadline))) {
        case NetSource::Result::Ok:
            break;
        case NetSource::Result::TimedOut:
            return BASS_ERROR_TIMEOUT;
        case NetSource::Result::Ended:
            return BASS_ERROR_FILEFORM;
        default:
            return BASS_ERROR_FILEOPEN;
        }
        data.insert(data.end(), buffer, buffer + count);
        if (!tagChecked && data.size() >= 10) {
            tagChecked = true;
            tagLeft = Id3TagBytes(data.data(), data.size());
        }
        size_t skipped = std::min(tagLeft, data.size());
        data.erase(data.begin(), data.begin() + std::ptrdiff_t(skipped));
        tagLeft -= skipped;
    }
    if (int error = stream->decoder_.Open(header))
        return error;
    if (int error = stream->output_.Open(options.device, stream->decoder_.Pcm()))
        return error;
    stream->compressed_.assign(data.begin() + std::ptrdiff_t(offset), data.end());
    *result = std::move(stream);
    return BASS_OK;
}

Stream::~Stream() = default;

int Stream::Play() {
    std::lock_guard<std::mutex> hold(control_);
    if (retired_)
        return BASS_ERROR_HANDLE;
    if (thread_ && WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT)
        return BASS_OK;
    thread_.reset();
    ResetEvent(stop_.get());
    // The thread holds the stream until it has let go of the device, and
    // the library loaded until its last instruction (FreeLibraryAndExitThread).
    auto self = std::make_unique<std::shared_ptr<Stream>>(shared_from_this());
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&Stream::PlayingThread), &module);
    thread_.reset(CreateThread(nullptr, 0, &Stream::PlayingThread, self.get(), 0, &threadId_));
    if (!thread_) {
        FreeLibrary(module);
        return BASS_ERROR_MEM;
    }
    self.release();  // the thread's now
    return BASS_OK;
}

void Stream::Retire() {
    {
        std::lock_guard<std::mutex> hold(control_);
        retired_ = true;
    }
    Stop();
}

void Stream::Stop() {
    std::lock_guard<std::mutex> hold(control_);
    if (!thread_)
        return;
    SetEvent(stop_.get());
    // From the download callback, on the playing thread itself: its loop
    // sees the event when the callback returns.
    if (GetCurrentThreadId() == threadId_)
        return;
    if (WaitForSingleObject(thread_.get(), kStopWaitMs) == WAIT_OBJECT_0)
        thread_.reset();
}

DWORD WINAPI Stream::PlayingThread(void* parameter) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Stream::PlayingThread), &module);
    {
        std::unique_ptr<std::shared_ptr<Stream>> self(
            static_cast<std::shared_ptr<Stream>*>(parameter));
        Stream* stream = self->get();
        bool ended = true;
        try {
            ended = stream->Run();
        } catch (...) {
            // The blocks may hold half-made sound and the decoder half a
            // frame: nothing more of this stream can play.
            stream->output_.Close();
        }
        try {
            if (ended && stream->options_.ended)
                stream->options_.ended(stream);
        } catch (...) {
            // Left in the table, where a stop or BASS_Free still finds it.
        }
    }  // may be the last owner: then the stream closes here
    FreeLibraryAndExitThread(module, 0);
}

bool Stream::Run() {
    if (!output_.IsOpen())
        return true;  // played to its end before
    HANDLE wake[] = {stop_.get(), output_.Ready()};
    for (;;) {
        if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0)
            break;
        WaveOutput::Block* block = output_.FreeBlock();
        if (!block) {
            WaitForMultipleObjects(2, wake, FALSE, INFINITE);
            continue;
        }
        auto* bytes = reinterpret_cast<uint8_t*>(block->data.data());
        size_t size = Produce(bytes, block->data.size() * sizeof(int16_t));
        if (size == 0)
            break;
        Scale(block->data.data(), size / sizeof(int16_t));
        if (!output_.Write(block, size))
            break;
    }
    // The sound ran out (or the device failed): let what is queued play.
    ULONGLONG deadline = GetTickCount64() + kDrainMs;
    while (WaitForSingleObject(stop_.get(), 0) != WAIT_OBJECT_0 && !output_.Drained() &&
           GetTickCount64() < deadline)
        WaitForMultipleObjects(2, wake, FALSE, MsUntil(deadline));
    if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) {
        output_.Reset();  // kept for a later play
        return false;
    }
    // Nothing more can come: the device is free for others at once, even
    // while the stream waits to be freed.
    output_.Close();
    return true;
}

size_t Stream::Produce(uint8_t* block, size_t size) {
    while (pcm_.size() - pcmAt_ < size && !sourceEnded_) {
        if (compressed_.empty()) {
            uint8_t buffer[kReadBytes];
            size_t count = 0;
            NetSource::Result read =
                source_.Read(buffer, sizeof buffer, &count, stop_.get(), kNetTimeoutMs);
            if (read == NetSource::Result::Stopped)
                return 0;
            if (read != NetSource::Result::Ok) {
                sourceEnded_ = true;
                if (options_.download)
                    options_.download(nullptr, 0, options_.user);
                break;
            }
            if (options_.download)
                options_.download(buffer, DWORD(count), options_.user);
            compressed_.assign(buffer, buffer + count);
        }
        pcm_.erase(pcm_.begin(), pcm_.begin() + std::ptrdiff_t(pcmAt_));
        pcmAt_ = 0;
        if (!decoder_.Decode(compressed_.data(), compressed_.size(), &pcm_))
            sourceEnded_ = true;
        compressed_.clear();
    }
    size_t frame = decoder_.Pcm().nBlockAlign;
    size_t count = std::min(size, pcm_.size() - pcmAt_);
    count -= count % frame;
    std::memcpy(block, pcm_.data() + pcmAt_, count);
    pcmAt_ += count;
    return count;
}

void Stream::Scale(int16_t* samples, size_t count) {
    float target = std::min(std::max(volume_.load(), 0.0f), 1.0f);
    float from = appliedVolume_ < 0 ? target : appliedVolume_;
    appliedVolume_ = target;
    if (from == 1.0f && target == 1.0f)
        return;
    // A change glides over the block instead of jumping, which would click.
    size_t channels = decoder_.Pcm().nChannels;
    size_t frames = count / channels;
    for (size_t frame = 0; frame < frames; ++frame) {
        float gain = from + (target - from) * float(frame) / float(frames);
        for (size_t channel = 0; channel < channels; ++channel) {
            int16_t& sample = samples[frame * channels + channel];
            sample = int16_t(std::lround(float(sample) * gain));
        }
    }
}
