// The radio in the panel's foot: a play/stop button, the station's title
// and a volume slider, over the streaming audio library (AudioLibrary.h).
//
// The station (URL and title) is the panel's settings record, read when
// used. Opening a stream connects to the station, which may take the
// library's whole time-out: it runs on a short-lived thread of its own, with
// the proxy lookup (which may go to the network or ask for a login), so that
// the desktop keeps answering; the button shows "start requested" meanwhile
// and the rest of the play runs on the window thread when the open returns
// (a timer looks for it). A stop clicked meanwhile discards that stream.
// Teardown does not wait for an open under way: its thread, one of ours
// (base/Threads.h), holds this library until it has left, and stops the
// stream it gets once it finds the radio gone; the audio library stays
// loaded for it (AudioLibrary.h).
//
// Window thread only, but for the opening thread, which shares nothing with
// the radio except its Opening record. Coordinates: each window's own.
#pragma once

#include "base/Handles.h"
#include "content/SettingsRecord.h"
#include "gfx/GdiPlus.h"
#include "radio/AudioLibrary.h"
#include "ui/Window.h"

#include <memory>

// The play/stop button: a rounded square showing one of four frames.
// The pictures the radio shows at once, which the panel decodes ahead.
constexpr wchar_t kButtonPicture[] = L"images/radio-button.png";
constexpr wchar_t kHandlePicture[] = L"images/radio-slider-handler.png";
constexpr wchar_t kBarBackgroundPicture[] = L"images/radio-sliderbar-background.png";
constexpr wchar_t kBarPicture[] = L"images/radio-sliderbar-bar.png";

class RadioButton : public Window {
public:
    enum State : int {
        Stopped = 0,
        StoppedHover = 1,
        Playing = 2,
        StartRequested = 3,  // also after a stream that could not be opened
    };

    explicit RadioButton(Window* parent);

    void UpdateRegion() override;
    void Paint() override;
    void OnClick(MouseEvent& event) override;
    void OnMouseEnter(MouseEvent& event) override;
    void OnMouseLeave(MouseEvent& event) override;
    void SetState(State next);

    gdip::LazyPicture image;  // the four 32-pixel frames, one above the other
    State state = Stopped;
};

// The volume slider: a bar filled up to a handle that is dragged or jumps
// to a click. Tells its parent the percentage with command 3.
class RadioVolume : public Window {
public:
    static constexpr int kHandleWidth = 13;  // for hit tests; it travels width - 12

    RadioVolume(float volume, Window* parent);

    void Paint() override;
    void OnMouseLeave(MouseEvent& event) override;
    void OnMouseDown(MouseEvent& event) override;
    void OnMouseUp(MouseEvent& event) override;
    void OnMouseMove(MouseEvent& event) override;
    // Clears both hover looks, in one repaint.
    virtual void ClearHover();

    int Travel() const { return width - 12; }
    void PlaceHandle(float volume);

    gdip::LazyPicture handleImage;
    gdip::LazyPicture handleHoverImage;  // decoded at the first hover
    gdip::LazyPicture barBackgroundImage;
    gdip::LazyPicture barImage;
    gdip::LazyPicture barHoverImage;  // decoded at the first hover
    int handlePos = 0;  // left edge of the handle, 0 to Travel()
    int dragX = 0;      // pointer x where the drag last moved the handle
    bool overSlider = false;
    bool overHandle = false;  // or being dragged

private:
    bool OverHandle(int x, int y) const;
    void ReportPercent();
};

class Radio : public Window {
public:
    enum Command : int {
        StopCommand = 0,
        PlayCommand = 1,
        VolumeCommand = 3,  // param: percent
    };
    static constexpr int kOpenTimer = 1;
    static constexpr unsigned kOpenPollMs = 50;

    // station: the panel's settings, borrowed; audio: the library to call,
    // or null to load the one beside us at the first play.
    Radio(Window* parent, const SettingsRecord* station,
          std::unique_ptr<bass::Library> audio = nullptr);
    ~Radio() override;

    void Paint() override;
    void OnCommand(int code, int param) override;
    void OnTimer(int id) override;
    // v in 0..1: the slider, the open stream and the next play follow it.
    void SetVolume(float v);

    // What an open under way and its thread share.
    struct Opening;

    std::unique_ptr<RadioButton> button;
    std::unique_ptr<RadioVolume> volumeSlider;
    DWORD stream = 0;  // the playing stream; 0 while stopped
    float volume = 0.5f;
    const SettingsRecord* station;   // borrowed
    gdip::GpFont* titleFont = nullptr;  // borrowed from the font cache
    std::unique_ptr<bass::Library> audio;  // null until the first play, unless given
    bool audioStarted = false;  // the library was initialised, at the first play
    std::shared_ptr<Opening> opening;  // the open under way, if any; shared with its thread
    KernelHandle openThread;           // that open's thread, never joined

private:
    void Play();
    void Stop();
    // The open returned: play its stream, or drop it when a stop came first.
    void FinishOpening();
};
