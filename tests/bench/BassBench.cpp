// Benchmark of the audio library against nginx's test tone, run inside
// tests/servers/with_servers.py with ORVELLA_CAPTURE_AUDIO=1, so that what
// Wine plays lands in the raw file ORVELLA_AUDIO_FILE (16-bit stereo, 44.1
// kHz): opening a stream, the time from the play call to the first sound in
// that file, the processor time per second of sound and the memory a
// playing stream holds. ALSA's null device takes sound as fast as it comes,
// so the processor time is given per second of sound played, not per second
// of the clock. Prints medians; asserts nothing.
#include "TestDesktop.h"
#include "radio/bass/bass.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr char kTone[] = "http://127.0.0.1/media/radio/tone.mp3";
constexpr double kBytesPerSecond = 44100 * 4;

LONGLONG CapturedBytes(const wchar_t* file) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(file, GetFileExInfoStandard, &data))
        return 0;
    return LONGLONG(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// User and kernel time of the whole process, in milliseconds.
double ProcessorMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double(ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

double PrivateMb() { return double(PrivateBytes()) / (1024.0 * 1024.0); }

}  // namespace

int main() {
    const wchar_t* file = _wgetenv(L"ORVELLA_AUDIO_FILE");
    if (!file) {
        std::printf("bass_bench: run inside with_servers.py with ORVELLA_CAPTURE_AUDIO=1\n");
        return 0;
    }
    BASS_Init(-1, 44100, 0, nullptr, nullptr);
    std::vector<double> openMs, firstSoundMs;
    for (int run = 0; run < 11; ++run) {
        double start = NowMs();
        HSTREAM stream = BASS_StreamCreateURL(kTone, 0, BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE,
                                              nullptr, nullptr);
        double opened = NowMs();
        if (!stream) {
            std::printf("bass_bench: the tone does not open (error %d)\n", BASS_ErrorGetCode());
            return 0;
        }
        BASS_ChannelPlay(stream, FALSE);
        while (CapturedBytes(file) == 0 && NowMs() - opened < 5000)
            Sleep(0);
        double sounded = NowMs();
        BASS_ChannelStop(stream);
        if (run > 0) {  // the first loads the codec and the sound driver
            openMs.push_back(opened - start);
            firstSoundMs.push_back(sounded - opened);
        }
    }
    std::printf("BASS_StreamCreateURL of the tone on nginx (connect, first frames, codec, "
                "device): median %.2f ms\n", Median(openMs));
    std::printf("BASS_ChannelPlay to the first sound in the device's file: median %.2f ms\n",
                Median(firstSoundMs));

    double idleMb = PrivateMb();
    HSTREAM stream =
        BASS_StreamCreateURL(kTone, 0, BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE, nullptr, nullptr);
    double openedMb = PrivateMb();
    BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 0.5f);
    BASS_ChannelPlay(stream, FALSE);
    Sleep(200);
    double playingMb = PrivateMb();
    double processor = ProcessorMs(), clock = NowMs();
    LONGLONG bytes = CapturedBytes(file);
    Sleep(3000);
    processor = ProcessorMs() - processor;
    clock = NowMs() - clock;
    double seconds = double(CapturedBytes(file) - bytes) / kBytesPerSecond;
    BASS_ChannelStop(stream);
    std::printf("playing at volume 0.5: %.1f s of sound in %.1f s, %.1f ms of processor time "
                "per second of sound (the whole process, Wine's mixing included)\n",
                seconds, clock / 1000, seconds > 0 ? processor / seconds : 0.0);
    std::printf("private bytes of a playing stream: %.2f MB (%.1f MB before it, %.1f MB "
                "opened, %.1f MB playing)\n",
                playingMb - idleMb, idleMb, openedMb, playingMb);
    BASS_Free();
    return 0;
}
