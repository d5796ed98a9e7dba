// The audio library (bass.dll) loaded as the widget would load the vendor's,
// by its undecorated names, against the test servers: nginx serves a 440 Hz
// tone (media/radio/tone.mp3), tinyproxy on 127.0.0.3:8888 wants a login,
// the misbehaving server stalls. with_servers.py sends what Wine plays to a
// raw file (ORVELLA_AUDIO_FILE: 16-bit stereo at 44.1 kHz, rewritten by each
// new stream), which the tests measure: pitch by zero crossings, level by
// RMS. ALSA's null device takes sound as fast as it comes, so a second of
// sound may take less than a second to play.
#include "ServedFiles.h"
#include "TestDesktop.h"
#include "base/Text.h"
#include "radio/AudioLibrary.h"
#include "radio/bass/bass.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr char kTone[] = "http://127.0.0.1/media/radio/tone.mp3";
constexpr double kToneHertz = 440;
constexpr double kToneRms = 0.5 * 32767 / 1.41421356;  // the served sine at full volume
constexpr double kBytesPerSecond = 44100 * 4;

// The exports in the table the widget's loader fills, found by name as it
// finds the vendor's, and the error code, which the widget never asks for.
struct Api : bass::Functions {
    Api() : Functions(bass::LoadLibraryBesideUs()->call) {}
    decltype(&BASS_ErrorGetCode) Error = reinterpret_cast<decltype(&BASS_ErrorGetCode)>(
        GetProcAddress(GetModuleHandleW(L"bass.dll"), "BASS_ErrorGetCode"));
};
const Api& bass() {
    static Api api;
    return api;
}

// The tone's file as nginx serves it.
std::string ServedTone() {
    return ReadAll(Env(L"ORVELLA_WWW") + L"\\media\\radio\\tone.mp3");
}

// Opens the tone, or url, with flags and a download callback.
HSTREAM Open(DWORD flags = BASS_STREAM_AUTOFREE, const std::string& url = kTone,
             DOWNLOADPROC* proc = nullptr, void* user = nullptr) {
    return bass().StreamCreateURL(url.c_str(), 0, flags, reinterpret_cast<void*>(proc), user);
}

// Whether a call failed with error; else what it did.
testing::AssertionResult FailedWith(int error, DWORD result) {
    const int code = bass().Error();
    if (!result && code == error)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << (result ? "succeeded" : "failed") << ", code " << code;
}

struct Usage {
    int threads = 0;
    DWORD handles = 0;
    size_t privateBytes = PrivateBytes();
};
// Wine answers 0 for the handle count: it is then found by asking every
// handle value in turn.
Usage Measure() {
    Usage usage;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        usage.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    if (!GetProcessHandleCount(GetCurrentProcess(), &usage.handles) || usage.handles == 0) {
        for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
            DWORD flags;
            usage.handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
        }
    }
    return usage;
}

// Whether the process is back to at most the threads it had. Wine's own
// threads behind a closed device end a moment after it, and may still be
// counted in the baseline of a test that follows another.
bool ThreadsBackTo(const Usage& before, DWORD ms = 5000) {
    return PumpUntil([&] { return Measure().threads <= before.threads; }, ms);
}

LONGLONG CapturedBytes() {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(Env(L"ORVELLA_AUDIO_FILE").c_str(), GetFileExInfoStandard, &data))
        return 0;
    return LONGLONG(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// The left channel of what the last stream played, from seconds `from` on.
std::vector<int16_t> Captured(double from) {
    std::string raw = ReadAll(Env(L"ORVELLA_AUDIO_FILE"));
    std::vector<int16_t> left;
    for (size_t at = size_t(from * kBytesPerSecond) & ~size_t(3); at + 4 <= raw.size(); at += 4)
        left.push_back(int16_t(uint8_t(raw[at]) | uint8_t(raw[at + 1]) << 8));
    return left;
}

double Rms(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t sample : samples)
        sum += double(sample) * sample;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
}

// From the first to the last rising zero crossing, interpolated.
double Hertz(const std::vector<int16_t>& samples) {
    double first = -1, last = -1;
    int periods = -1;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            last = double(i - 1) + double(-samples[i - 1]) / double(samples[i] - samples[i - 1]);
            first = first < 0 ? last : first;
            ++periods;
        }
    }
    return periods > 0 ? periods * 44100.0 / (last - first) : 0;
}

class BassTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bass().complete() && bass().Error)
            << "bass.dll or one of its exports is missing";
        ASSERT_TRUE(bass().Init(-1, 44100, 0, nullptr, nullptr));
    }
    void TearDown() override {
        bass().SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr);
        bass().Free();
    }

    // Plays until `seconds` of sound have reached the file; false on a fault.
    static bool PlayFor(HSTREAM stream, double seconds) {
        return bass().ChannelPlay(stream, FALSE) &&
               PumpUntil([&] { return CapturedBytes() >= LONGLONG(seconds * kBytesPerSecond); },
                         15000);
    }
};

TEST_F(BassTest, PlaysTheTonePitchAtTheVolumeSetBeforeOrWhilePlayingDirectAndThroughTheProxy) {
    if (Env(L"ORVELLA_AUDIO_FILE").empty())
        GTEST_SKIP() << "run inside with_servers.py with ORVELLA_CAPTURE_AUDIO=1";
    // The level is of the full scale.
    const struct { const char* proxy; float volume; double level; } cases[] = {
        {nullptr, 1.0f, 1.0},  {nullptr, 0.5f, 0.5},  {nullptr, 0.0f, 0.0},
        {nullptr, 1.5f, 1.0},  {nullptr, -0.5f, 0.0}, {"orvella:secret@127.0.0.3:8888", 0.5f, 0.5},
    };
    double fullRms = kToneRms;  // as the first case measures it
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "volume " << c.volume << " proxy "
                                        << (c.proxy ? c.proxy : "none"));
        ASSERT_TRUE(bass().SetConfigPtr(BASS_CONFIG_NET_PROXY, c.proxy));
        HSTREAM stream = Open(BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE);
        ASSERT_NE(0u, stream) << "error " << bass().Error();
        EXPECT_TRUE(bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL, c.volume));
        ASSERT_TRUE(PlayFor(stream, 1.2));
        EXPECT_TRUE(bass().ChannelStop(stream));
        // Past the decoder's delay at the start.
        std::vector<int16_t> sound = Captured(0.2);
        if (&c == cases) {
            // The encoder leaves the tone a little below its source.
            fullRms = Rms(sound);
            EXPECT_NEAR(1.0, fullRms / kToneRms, 0.1);
        }
        EXPECT_NEAR(c.level, Rms(sound) / fullRms, 0.02 * c.level + 0.001);
        if (c.level > 0) {
            EXPECT_NEAR(kToneHertz, Hertz(sound), 0.02 * kToneHertz);
        }
    }

    // A volume set while playing reaches the sound.
    ASSERT_TRUE(bass().SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr));
    HSTREAM stream = Open();
    ASSERT_NE(0u, stream);
    ASSERT_TRUE(PlayFor(stream, 1.0));
    EXPECT_TRUE(bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 0.25f));
    // What was queued before the change plays out first.
    LONGLONG changedAt = CapturedBytes();
    ASSERT_TRUE(PumpUntil([&] { return CapturedBytes() > changedAt + LONGLONG(kBytesPerSecond); },
                          15000));
    EXPECT_TRUE(bass().ChannelStop(stream));
    // Levels of 50 ms (22 whole periods). Wine pads the device with silence
    // where the sound runs short (10 ms after the stop in some runs), which
    // only lowers the windows it falls in: the loudest is the full level.
    std::vector<int16_t> sound = Captured(0.2);
    std::vector<double> levels;
    for (size_t at = 0; at + 2205 <= sound.size(); at += 2205)
        levels.push_back(Rms({sound.begin() + at, sound.begin() + at + 2205}));
    double full = *std::max_element(levels.begin(), levels.end());
    // The change lands after the last window at full level, and its glide
    // over one block is over two windows on; the median steps over silence.
    auto change = std::find_if(levels.rbegin(), levels.rend(),
                               [&](double level) { return level > 0.9 * full; }).base();
    ASSERT_GE(levels.end() - change, 6) << "the volume did not change";
    std::vector<double> after(change + 2, levels.end());
    std::nth_element(after.begin(), after.begin() + after.size() / 2, after.end());
    EXPECT_NEAR(0.25, after[after.size() / 2] / full, 0.005);
}

TEST_F(BassTest, StreamsThatCannotPlayFailInBoundedTimeLeavingNothing) {
    const std::string faulty =
        "http://" + ToNarrow(Encoding::Utf8, Env(L"ORVELLA_FAULTY_HOST").c_str()) + "/";
    const struct { std::string url; const char* proxy; int error; } cases[] = {
        {"http://127.0.0.1:9/tone.mp3", nullptr, BASS_ERROR_FILEOPEN},  // nobody listens
        {"http://127.0.0.1/media/radio/none.mp3", nullptr, BASS_ERROR_FILEOPEN},
        {"http://127.0.0.1/files/hello.txt", nullptr, BASS_ERROR_FILEFORM},
        {faulty + "exact/100000", nullptr, BASS_ERROR_FILEFORM},  // past the frame search
        {faulty + "no-status", nullptr, BASS_ERROR_FILEOPEN},
        {faulty + "empty", nullptr, BASS_ERROR_FILEOPEN},
        {faulty + "stall", nullptr, BASS_ERROR_TIMEOUT},
        {"https://127.0.0.1/media/radio/tone.mp3", nullptr, BASS_ERROR_SSL},
        {"ftp://127.0.0.1/tone.mp3", nullptr, BASS_ERROR_FILEOPEN},
        {kTone, "orvella:wrong@127.0.0.3:8888", BASS_ERROR_FILEOPEN},
        {kTone, "127.0.0.3:8888", BASS_ERROR_FILEOPEN},  // no login for a proxy that wants one
        {kTone, "127.0.0.3:9", BASS_ERROR_FILEOPEN},
    };
    Usage before = Measure();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url + " proxy " + (c.proxy ? c.proxy : "none"));
        ASSERT_TRUE(bass().SetConfigPtr(BASS_CONFIG_NET_PROXY, c.proxy));
        ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(FailedWith(c.error, Open(BASS_STREAM_AUTOFREE, c.url)));
        EXPECT_LT(GetTickCount64() - start, 12000u);
    }
    EXPECT_TRUE(ThreadsBackTo(before));
    EXPECT_LE(Measure().handles, before.handles + 2);
}

TEST_F(BassTest, StreamThatTheServerEndsStopsAndFreesItselfWithAutoFree) {
    // The first 2.5 s of the tone, cut inside a frame.
    Serve(L"\\media\\radio\\cut.mp3", ServedTone().substr(0, 40001));
    Usage before = Measure();
    for (DWORD flags : {DWORD(BASS_STREAM_AUTOFREE), DWORD(0)}) {
        SCOPED_TRACE(flags ? "auto-free" : "kept");
        HSTREAM stream = Open(flags, "http://127.0.0.1/media/radio/cut.mp3");
        ASSERT_NE(0u, stream);
        ASSERT_TRUE(bass().ChannelPlay(stream, FALSE));
        EXPECT_TRUE(ThreadsBackTo(before, 10000));
        // An auto-free stream is gone once it has ended; another stays until freed.
        EXPECT_EQ(flags == 0, bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 1.0f) != FALSE);
        EXPECT_EQ(flags == 0, bass().ChannelStop(stream) != FALSE);
    }
    if (!Env(L"ORVELLA_AUDIO_FILE").empty()) {
        EXPECT_NEAR(2.5, double(CapturedBytes()) / kBytesPerSecond, 0.2);
    }
}

TEST_F(BassTest, CallsOutOfTurnOrWithUnknownHandlesFailWithTheirCode) {
    HSTREAM stopped = Open();
    ASSERT_NE(0u, stopped);
    ASSERT_TRUE(bass().ChannelStop(stopped));  // and so freed
    for (HSTREAM stream : {HSTREAM(0), stopped, stopped + 1000}) {
        SCOPED_TRACE(stream);
        EXPECT_TRUE(
            FailedWith(BASS_ERROR_HANDLE, bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 1)));
        EXPECT_TRUE(FailedWith(BASS_ERROR_HANDLE, bass().ChannelPlay(stream, FALSE)));
        EXPECT_TRUE(FailedWith(BASS_ERROR_HANDLE, bass().ChannelStop(stream)));
    }
    // Free stops every stream still playing, and their threads end.
    Usage before = Measure();
    HSTREAM stream = Open(0), other = Open();
    ASSERT_TRUE(bass().ChannelPlay(stream, FALSE) && bass().ChannelPlay(other, FALSE));
    EXPECT_TRUE(FailedWith(BASS_ERROR_ILLTYPE,
                           bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL + 1, 0.5f)));
    EXPECT_TRUE(FailedWith(BASS_ERROR_ILLTYPE, bass().SetConfigPtr(BASS_CONFIG_NET_PROXY + 1, 0)));
    EXPECT_TRUE(FailedWith(BASS_ERROR_ALREADY, bass().Init(-1, 44100, 0, nullptr, nullptr)));
    ASSERT_TRUE(bass().Free());
    EXPECT_FALSE(bass().ChannelStop(stream));
    EXPECT_TRUE(ThreadsBackTo(before));
    EXPECT_TRUE(FailedWith(BASS_ERROR_INIT, bass().Free()));
    EXPECT_TRUE(FailedWith(BASS_ERROR_INIT, Open(0)));
    for (int device : {0, 1000})
        EXPECT_TRUE(FailedWith(BASS_ERROR_DEVICE, bass().Init(device, 44100, 0, nullptr, nullptr)));
    EXPECT_TRUE(bass().Init(-1, 44100, 0, nullptr, nullptr));
}

// Holds the open at its status line, on the opening thread, as a slow
// network would: sets events[0], then waits for events[1].
void CALLBACK HoldAtStatus(const void* buffer, DWORD length, void* events) {
    if (buffer && length == 0)
        SignalObjectAndWait(static_cast<HANDLE*>(events)[0], static_cast<HANDLE*>(events)[1],
                            10000, FALSE);
}

// Throws at the status line, on the opening thread, or at the first block
// of the body, on the playing thread.
struct Thrower {
    bool atStatus, outOfMemory;
};
void CALLBACK Throw(const void* buffer, DWORD length, void* user) {
    auto* thrower = static_cast<const Thrower*>(user);
    if (!buffer || (length == 0) != thrower->atStatus)
        return;
    if (thrower->outOfMemory)
        throw std::bad_alloc();
    throw 42;
}

TEST_F(BassTest, AnOpenEndingAfterFreeAndInitJoinsNoTableAndExceptionsNeverEndTheProcess) {
    // A 32 kB tag ahead of the tone: the open still reads from its socket
    // after the free.
    Serve(L"\\media\\radio\\tagged.mp3",
          std::string("ID3\3\0\0\0\2\0\0", 10) + std::string(32768, '\0') + ServedTone());
    // The usage once a stream has come and gone: Wine starts threads of its
    // own at a process's first stream (behind its first device and socket)
    // that stay until the process ends.
    bass().ChannelStop(Open());
    const Usage before = Measure();
    HANDLE events[] = {CreateEventW(nullptr, FALSE, FALSE, nullptr),
                       CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    auto open = std::async(std::launch::async, [&] {
        HSTREAM stream = Open(BASS_STREAM_STATUS, "http://127.0.0.1/media/radio/tagged.mp3",
                              &HoldAtStatus, events);
        return std::pair(stream, bass().Error());
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events[0], 15000));
    EXPECT_TRUE(bass().Free());
    EXPECT_TRUE(bass().Init(-1, 44100, 0, nullptr, nullptr));
    SetEvent(events[1]);
    const auto [late, error] = open.get();
    EXPECT_EQ(0u, late) << "the late stream joined the new table";
    EXPECT_EQ(BASS_ERROR_INIT, error);
    for (HANDLE event : events)
        CloseHandle(event);

    // An exception ends the call or the stream it came in.
    for (bool outOfMemory : {true, false}) {
        SCOPED_TRACE(outOfMemory ? "bad_alloc" : "int");
        Thrower atStatus{true, outOfMemory}, inBody{false, outOfMemory};
        EXPECT_TRUE(FailedWith(outOfMemory ? BASS_ERROR_MEM : BASS_ERROR_UNKNOWN,
                               Open(BASS_STREAM_STATUS, kTone, &Throw, &atStatus)));
        HSTREAM stream = Open(BASS_STREAM_AUTOFREE, kTone, &Throw, &inBody);
        ASSERT_NE(0u, stream);
        ASSERT_TRUE(bass().ChannelPlay(stream, FALSE));
        // Ended as by a failed device: an auto-free stream leaves the table.
        EXPECT_TRUE(PumpUntil(
            [&] { return !bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 1); }, 5000));
    }
    EXPECT_TRUE(ThreadsBackTo(before));  // no device, stream or thread left
}

TEST_F(BassTest, HundredPlayStopCyclesLeaveNoThreadHandleOrMemory) {
    // The first ten cycles fill caches that then keep their size (under
    // Wine about 1 MiB and one handle).
    Usage before;
    for (int i = 0; i < 110; ++i) {
        if (i == 10)
            before = Measure();
        HSTREAM stream = Open(BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE);
        ASSERT_NE(0u, stream);
        bass().ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 0.5f);
        ASSERT_TRUE(bass().ChannelPlay(stream, FALSE));
        Sleep(10);
        ASSERT_TRUE(bass().ChannelStop(stream));
    }
    EXPECT_TRUE(ThreadsBackTo(before));
    Usage after = Measure();
    EXPECT_LE(after.handles, before.handles + 5);
    EXPECT_LT(after.privateBytes, before.privateBytes + 1024 * 1024);
}

}  // namespace
