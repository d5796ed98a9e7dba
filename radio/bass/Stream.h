// One stream of the library: the network source, the decoder, the output
// device and the thread that moves sound from the first to the last.
//
// Created (blocking) on the caller's thread by the library's exported
// functions, which then play, stop and set its volume from any thread. While
// it plays, the playing thread alone touches the source, decoder and device,
// and holds a reference to the stream, so the stream outlives its thread
// whoever lets go of it first; the last owner, the caller's thread or the
// playing thread, closes everything. Nothing the playing thread meets
// escapes it: a fault there (memory, a download callback that throws) ends
// the stream as a failed device would.
#pragma once

#include "radio/bass/Mp3Decoder.h"
#include "radio/bass/NetSource.h"
#include "radio/bass/WaveOutput.h"
#include "radio/bass/bass.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Stream : public std::enable_shared_from_this<Stream> {
public:
    struct Options {
        std::string url;
        std::string proxy;  // "[login:password@]host:port", empty for none
        UINT device = WAVE_MAPPER;
        DWORD flags = 0;
        DOWNLOADPROC* download = nullptr;
        void* user = nullptr;
        // Called on the playing thread when the stream ended by itself
        // (server closed, network broke) rather than by a stop.
        void (*ended)(Stream* stream) = nullptr;
    };

    // Connects, finds the first frames and opens the decoder and the device.
    // Returns a BASS error code; *stream is set only with BASS_OK.
    static int Create(const Options& options, std::shared_ptr<Stream>* stream);

    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool AutoFree() const { return (options_.flags & BASS_STREAM_AUTOFREE) != 0; }
    void SetVolume(float volume) { volume_ = volume; }
    // Starts the playing thread unless it runs; a BASS error code.
    int Play();
    // Ends the playing thread, if any, and waits for it (bounded).
    void Stop();
    // Stops for good, once the stream has left the table: a Play from a
    // caller that found it just before is refused, as no one could stop
    // what it would start.
    void Retire();

private:
    explicit Stream(const Options& options) : options_(options) {}

    static DWORD WINAPI PlayingThread(void* parameter);
    // The playing thread's loop; true when the sound ran out by itself.
    bool Run();
    // Fills block with up to its size in samples; 0 at the end or on a stop.
    size_t Produce(uint8_t* block, size_t size);
    void Scale(int16_t* samples, size_t count);

    Options options_;
    NetSource source_;
    Mp3Decoder decoder_;
    WaveOutput output_;
    std::atomic<float> volume_{1.0f};
    float appliedVolume_ = -1;  // the gain at the end of the last block; < 0 before the first

    std::mutex control_;  // Play and Stop against each other
    bool retired_ = false;  // set by Retire, for good
    KernelHandle stop_;    // manual reset: set from Stop
    KernelHandle thread_;
    DWORD threadId_ = 0;

    // The playing thread's: compressed bytes not yet decoded, decoded bytes
    // not yet queued.
    std::vector<uint8_t> compressed_;
    std::vector<uint8_t> pcm_;
    size_t pcmAt_ = 0;
    bool sourceEnded_ = false;
};
