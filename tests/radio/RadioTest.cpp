// The radio over a stand-in audio library: the slider's arithmetic, the
// button's frames and events around an open that fails, succeeds, is
// stopped while under way or is still under way at teardown, and the calls
// the library gets, in their order and with their arguments. The real
// bass.dll beside the tests serves only to show that it stays loaded.
#include "TestTree.h"
#include "base/Threads.h"
#include "radio/Radio.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The stand-in library: it records every call and opens the stream it is
// told to after the delay it is told.
struct Fake {
    static inline std::mutex lock;
    static inline std::vector<std::string> calls;
    static inline DWORD delayMs = 0, nextStream = 0;
    static inline std::atomic<int> opensEnded{0};

    static void Record(std::string call) {
        std::lock_guard<std::mutex> hold(lock);
        calls.push_back(std::move(call));
    }
    static std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> hold(lock);
        return calls;
    }
    static BOOL WINAPI Init(int device, DWORD freq, DWORD, HWND, const void*) {
        Record("Init " + std::to_string(device) + " " + std::to_string(freq));
        return TRUE;
    }
    static BOOL WINAPI SetConfigPtr(DWORD option, const void* value) {
        Record("SetConfigPtr " + std::to_string(option) + (value ? " proxy" : " direct"));
        return TRUE;
    }
    static DWORD WINAPI StreamCreateURL(const char* url, DWORD offset, DWORD flags, void*, void*) {
        Sleep(delayMs);
        char text[64];
        std::snprintf(text, sizeof(text), " %lu 0x%lx", offset, flags);
        Record(std::string("StreamCreateURL ") + url + text);
        ++opensEnded;
        return nextStream;
    }
    static BOOL WINAPI ChannelSetAttribute(DWORD handle, DWORD attribute, float value) {
        Record("SetAttribute " + std::to_string(handle) + " " + std::to_string(attribute) + " " +
               std::to_string(int(value * 100 + 0.5f)));
        return TRUE;
    }
    static BOOL WINAPI ChannelPlay(DWORD handle, BOOL restart) {
        Record("Play " + std::to_string(handle) + " " + std::to_string(restart));
        return TRUE;
    }
    static BOOL WINAPI ChannelStop(DWORD handle) {
        Record("Stop " + std::to_string(handle));
        return TRUE;
    }
    static BOOL WINAPI Free() {
        Record("Free");
        return TRUE;
    }
    static std::unique_ptr<bass::Library> Library() {
        auto library = std::make_unique<bass::Library>();
        library->call = {Init, SetConfigPtr, StreamCreateURL, ChannelSetAttribute,
                         ChannelPlay, ChannelStop, Free};
        return library;
    }
};

class RadioTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        Fake::calls.clear();
        Fake::delayMs = 0;
        Fake::nextStream = 0;
        std::snprintf(station.radio_url, sizeof(station.radio_url), "http://radio.example/live");
        MakeRadio();
    }
    void Forget() override { radio.reset(); }

    void MakeRadio() {
        radio = std::make_unique<Radio>(root.get(), &station, Fake::Library());
        radio->x = 10;  // inside the test's root
        radio->y = 10;
        radio->Show();
    }

    void ClickButton() { Click(radio->x + 16, radio->y + 26); }
    void ClickSlider(int x) { Click(OnSlider(x).x, OnSlider(x).y); }
    // A point of the slider, in the root's coordinates.
    POINT OnSlider(int x) const {
        return POINT{radio->x + radio->volumeSlider->x + x, radio->y + radio->volumeSlider->y + 11};
    }
    // Serves the radio's timer until the open under way has returned.
    void AwaitOpen() {
        for (int i = 0; i < 200 && radio->opening; ++i) {
            Sleep(20);
            root->DispatchTimer(Radio::kOpenTimer);
        }
        ASSERT_EQ(radio->opening, nullptr) << "the open never returned";
    }

    SettingsRecord station{};
    EventRecorder log;  // the radio broadcasts only its starts and stops
    std::unique_ptr<Radio> radio;
};

TEST_F(RadioTest, TheSliderPlacesTheHandleAndReportsWholePercents) {
    for (auto [volume, handle] : {std::pair{1.0f, 63}, {0.0f, 0}, {0.5f, 31}}) {
        radio->SetVolume(volume);
        EXPECT_EQ(radio->volumeSlider->handlePos, handle) << volume;
    }
    // A click off the handle jumps it there: the ends of the bar are the ends of the scale.
    for (auto [x, handle, percent] : {std::tuple{3, 0, 0}, {74, 63, 100}, {50, 44, 69}}) {
        radio->SetVolume(0.5f);
        ClickSlider(x);
        EXPECT_EQ(radio->volumeSlider->handlePos, handle) << x;
        EXPECT_FLOAT_EQ(radio->volume, percent / 100.0f) << x;
    }
    // Dragged past either end, the handle stops there; the volume moves one way only.
    for (int direction : {-1, 1}) {
        radio->SetVolume(0.5f);
        POINT at = OnSlider(31 + 6);
        Move(at.x, at.y);
        Press(at.x, at.y);
        float last = radio->volume;
        for (int step = 1; step <= 25; ++step) {
            Move(at.x + direction * 5 * step, at.y);
            EXPECT_TRUE(direction > 0 ? radio->volume >= last : radio->volume <= last);
            last = radio->volume;
        }
        Release(at.x + direction * 125, at.y);
        EXPECT_EQ(radio->volumeSlider->handlePos, direction > 0 ? 63 : 0);
        EXPECT_FLOAT_EQ(radio->volume, direction > 0 ? 1.0f : 0.0f);
    }
    // Leaving clears both hover looks.
    const POINT handle = OnSlider(radio->volumeSlider->handlePos + 3);
    Move(handle.x, handle.y);
    EXPECT_TRUE(radio->volumeSlider->overSlider && radio->volumeSlider->overHandle);
    Move(5, 290);
    EXPECT_FALSE(radio->volumeSlider->overSlider || radio->volumeSlider->overHandle);
}

TEST_F(RadioTest, AFailedOpenKeepsTheFourthFrameAndAStopDuringOneDiscardsTheLateStream) {
    Fake::delayMs = 1500;
    const DWORD start = GetTickCount();
    ClickButton();
    // The open runs beside the window thread, which is back at once.
    EXPECT_LT(GetTickCount() - start, 750u);
    EXPECT_EQ(radio->button->state, RadioButton::StartRequested);
    AwaitOpen();
    EXPECT_EQ(radio->button->state, RadioButton::StartRequested);
    EXPECT_TRUE(log.heard.empty());
    EXPECT_EQ(Fake::Calls(), (std::vector<std::string>{
                                 "Init -1 44100", "SetConfigPtr 17 direct",
                                 "StreamCreateURL http://radio.example/live 0 0x840000"}));
    ClickButton();
    EXPECT_EQ(radio->button->state, RadioButton::StoppedHover);
    // A stop during an open that succeeds discards the stream that arrives later.
    Fake::delayMs = 300;
    Fake::nextStream = 9;
    ClickButton();
    ClickButton();
    AwaitOpen();
    EXPECT_EQ(radio->stream, 0u);
    EXPECT_EQ(radio->button->state, RadioButton::StoppedHover);
    EXPECT_EQ(log.heard, (std::vector<int>{RadioStopped, RadioStopped}));
    EXPECT_EQ(Fake::Calls().back(), "Stop 9");
}

TEST_F(RadioTest, APlayStartsAtTheVolumeSetWhileStoppedAndAStopEndsTheStream) {
    ClickSlider(3);  // 0 %, while stopped
    Fake::nextStream = 7;
    ClickButton();
    AwaitOpen();
    EXPECT_EQ(radio->button->state, RadioButton::Playing);
    ClickSlider(40);
    ClickButton();
    EXPECT_EQ(log.heard, (std::vector<int>{RadioStarted, RadioStopped}));
    const std::vector<std::string> calls = Fake::Calls();
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 3, calls.end()),
              (std::vector<std::string>{"SetAttribute 7 2 0", "Play 7 0", "SetAttribute 7 2 53",
                                        "Stop 7"}));
    EXPECT_EQ(radio->stream, 0u);
}

TEST_F(RadioTest, TeardownDuringAnOpenReturnsAtOnceAndTheOpenDisposesOfItsOwnStream) {
    const std::string open = "StreamCreateURL http://radio.example/live 0 0x840000";
    const struct {
        DWORD delayMs, stream;
        bool connecting;  // torn down 0.5 s into the open, else once its thread has ended
        std::vector<std::string> calls;  // the last ones, once the thread has ended
    } cases[] = {
        // The thread stops the stream it gets after teardown, on code that is still there.
        {5000, 5, true, {"Free", open, "Stop 5"}},
        // A library freed under the open returns no stream: nothing to stop.
        {1500, 0, true, {"Free", open}},
        // Opened, but not yet taken by the radio's timer: teardown stops it.
        {0, 5, false, {open, "Stop 5", "Free"}},
    };
    for (const auto& c : cases) {
        Fake::calls.clear();
        Fake::delayMs = c.delayMs;
        Fake::nextStream = c.stream;
        const int running = threadsRunning, left = threadsLeft, ended = Fake::opensEnded;
        ClickButton();
        if (c.connecting) {
            Sleep(500);
            ASSERT_EQ(threadsRunning, running + 1);
        } else {
            // The count drops just before the thread leaves through the
            // library's exit; its handle is signalled a moment later.
            ASSERT_TRUE(ThreadsEndBy(running, 15000));
            ASSERT_EQ(WaitForSingleObject(radio->openThread.get(), 5000), WAIT_OBJECT_0);
        }
        const DWORD start = GetTickCount();
        radio->Hide();  // as the panel does first
        radio.reset();
        EXPECT_LT(GetTickCount() - start, 1000u) << c.delayMs;  // a hang guard, not the target
        EXPECT_EQ(threadsLeft, left + (c.connecting ? 1 : 0));
        EXPECT_EQ(Fake::opensEnded, ended + (c.connecting ? 0 : 1));
        // Left to end by itself, the thread ran its open to the end and
        // left through its own exit: nothing killed it.
        ASSERT_TRUE(ThreadsEndBy(running, 15000)) << "the open's thread never ended";
        const std::vector<std::string> calls = Fake::Calls();
        ASSERT_GE(calls.size(), c.calls.size());
        EXPECT_EQ(std::vector<std::string>(calls.end() - c.calls.size(), calls.end()), c.calls)
            << c.delayMs;
        MakeRadio();
    }
    EXPECT_TRUE(log.heard.empty());
}

TEST(AudioLibrary, StaysLoadedWhoeverLetsItGo) {
    std::unique_ptr<bass::Library> audio = bass::LoadLibraryBesideUs();
    ASSERT_TRUE(audio->call.complete()) << "no bass.dll beside the test";
    const HMODULE module = audio->module;
    audio.reset();
    for (int i = 0; i < 3; ++i)
        FreeLibrary(module);
    HMODULE found = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, L"bass.dll",
                                   &found));
    EXPECT_EQ(found, module);
}

}  // namespace
