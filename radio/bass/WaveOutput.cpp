// A waveOut device and its ring of blocks; see WaveOutput.h.
#include "radio/bass/WaveOutput.h"

#include "radio/bass/bass.h"

void WaveOutput::Close() {
    if (!device_)
        return;
    waveOutReset(device_.get());
    for (Block& block : blocks_) {
        waveOutUnprepareHeader(device_.get(), &block.header, sizeof block.header);
        block.queued = false;
    }
    device_.reset();
}

int WaveOutput::Open(UINT device, const WAVEFORMATEX& format) {
    // Auto-reset: one wait per handed-back block is enough, as the playing
    // thread looks at every block after each wake.
    ready_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!ready_)
        return BASS_ERROR_MEM;
    if (waveOutOpen(device_.put(), device, &format, DWORD_PTR(ready_.get()), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        device_.release();
        return BASS_ERROR_DRIVER;
    }
    size_t bytes = size_t(format.nAvgBytesPerSec) * kBlockMs / 1000;
    bytes -= bytes % format.nBlockAlign;
    for (Block& block : blocks_) {
        block.data.resize(bytes / sizeof(int16_t));
        block.header.lpData = reinterpret_cast<LPSTR>(block.data.data());
        block.header.dwBufferLength = DWORD(bytes);
        if (waveOutPrepareHeader(device_.get(), &block.header, sizeof block.header) !=
            MMSYSERR_NOERROR)
            return BASS_ERROR_DRIVER;
    }
    return BASS_OK;
}

WaveOutput::Block* WaveOutput::FreeBlock() {
    for (Block& block : blocks_) {
        if (block.queued && (block.header.dwFlags & WHDR_DONE))
            block.queued = false;
        if (!block.queued)
            return &block;
    }
    return nullptr;
}

bool WaveOutput::Write(Block* block, size_t bytes) {
    block->header.dwBufferLength = DWORD(bytes);
    block->header.dwFlags &= ~DWORD(WHDR_DONE);
    if (waveOutWrite(device_.get(), &block->header, sizeof block->header) != MMSYSERR_NOERROR)
        return false;
    block->queued = true;
    return true;
}

bool WaveOutput::Drained() {
    for (const Block& block : blocks_) {
        if (block.queued && !(block.header.dwFlags & WHDR_DONE))
            return false;
    }
    return true;
}

void WaveOutput::Reset() {
    if (device_)
        waveOutReset(device_.get());
    for (Block& block : blocks_)
        block.queued = false;
}
