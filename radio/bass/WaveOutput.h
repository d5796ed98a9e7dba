// The output device of one stream: a waveOut device with a small ring of
// blocks that the playing thread fills and queues.
//
// Opened on the thread that creates the stream; written, reset and closed
// by whichever thread owns the stream at the time (its playing thread while
// it plays). The device signals Ready() each time it hands a block back.
#pragma once

#include "base/Handles.h"

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cstdint>
#include <vector>

struct WaveOutTraits {
    using Native = HWAVEOUT;
    static Native Empty() { return nullptr; }
    static void Close(Native device) { waveOutClose(device); }
};
using WaveOut = UniqueHandle<WaveOutTraits>;

class WaveOutput {
public:
    // How much sound is queued ahead of the device: the delay of a volume
    // change and the room for the network's hiccups.
    static constexpr int kBlocks = 6;
    static constexpr DWORD kBlockMs = 50;

    struct Block {
        WAVEHDR header = {};
        std::vector<int16_t> data;  // 16-bit samples, channels interleaved
        bool queued = false;
    };

    WaveOutput() = default;
    ~WaveOutput() { Close(); }
    WaveOutput(const WaveOutput&) = delete;
    WaveOutput& operator=(const WaveOutput&) = delete;

    // device: a waveOut device number or WAVE_MAPPER. Returns a BASS error
    // code: BASS_OK, or BASS_ERROR_DRIVER when the device refuses.
    int Open(UINT device, const WAVEFORMATEX& format);

    HANDLE Ready() const { return ready_.get(); }

    // A block the device does not hold, or null while it holds them all.
    Block* FreeBlock();
    bool Write(Block* block, size_t bytes);  // bytes of block's data to play
    // Whether every queued block has been played.
    bool Drained();
    // Takes every block back at once, played or not.
    void Reset();
    // Lets the device go for good.
    void Close();
    bool IsOpen() const { return bool(device_); }

private:
    KernelHandle ready_;
    WaveOut device_;
    std::array<Block, kBlocks> blocks_;
};
