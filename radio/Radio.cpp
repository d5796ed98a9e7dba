// The radio; see Radio.h.
#include "radio/Radio.h"

#include "base/EventListener.h"
#include "base/ModulePath.h"
#include "base/Threads.h"
#include "gfx/Canvas.h"
#include "gfx/Palette.h"
#include "net/HttpClient.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace bass {

std::unique_ptr<Library> LoadLibraryBesideUs() {
    auto library = std::make_unique<Library>();
    HMODULE module = LoadLibraryW(ModuleRelativePath(L"bass.dll").c_str());
    if (!module)
        return library;
    // The load's own reference is never given back either, so the library
    // stays should pinning be refused.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(module), &pinned);
    library->module = module;
    Functions& f = library->call;
    auto resolve = [module](auto& entry, const char* name) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
            GetProcAddress(module, name));
    };
    resolve(f.Init, "BASS_Init");
    resolve(f.SetConfigPtr, "BASS_SetConfigPtr");
    resolve(f.StreamCreateURL, "BASS_StreamCreateURL");
    resolve(f.ChannelSetAttribute, "BASS_ChannelSetAttribute");
    resolve(f.ChannelPlay, "BASS_ChannelPlay");
    resolve(f.ChannelStop, "BASS_ChannelStop");
    resolve(f.Free, "BASS_Free");
    // Half a library is no library.
    if (!f.complete())
        library->call = Functions{};
    return library;
}

}  // namespace bass

namespace {

constexpr int kFrameOffsets[4] = {0, -32, -64, -96};
constexpr gdip::ARGB kTitleColour = 0xFFA9A2B4u;

}  // namespace

// ------------------------------------------------------------------ button

RadioButton::RadioButton(Window* parent)
    : Window(0, 10, 32, 32, parent), image(kButtonPicture) {
    UpdateRegion();
}

void RadioButton::UpdateRegion() {
    // A rounded square: corners of a width/2 by height/2 ellipse.
    gdip::PathPtr path = gdip::RoundRectPath(0, 0, float(width), float(height), width / 4.0f);
    gdip::GpRegion* shape = nullptr;
    if (!path || gdip::GdipCreateRegionPath(path.get(), &shape) != gdip::Ok) {
        Window::UpdateRegion();
        return;
    }
    region.native.reset(shape);
}

void RadioButton::Paint() {
    if (!canvas->graphics)
        return;
    gdip::SavedClip saved(canvas->graphics);
    canvas->graphics.Check(
        gdip::GdipSetClipRegion(canvas->graphics.get(), region.get(), gdip::CombineModeIntersect));
    canvas->DrawImage(image.get(), 0, float(kFrameOffsets[state]));
}

void RadioButton::SetState(State next) {
    state = next;
    Invalidate();
}

void RadioButton::OnMouseEnter(MouseEvent&) {
    if (state == Stopped)
        SetState(StoppedHover);
}

void RadioButton::OnMouseLeave(MouseEvent&) {
    if (state == StoppedHover)
        SetState(Stopped);
}

void RadioButton::OnClick(MouseEvent&) {
    if (state == Stopped || state == StoppedHover) {
        SetState(StartRequested);
        parent->OnCommand(Radio::PlayCommand, 0);
    } else {
        SetState(StoppedHover);
        parent->OnCommand(Radio::StopCommand, 0);
    }
}

// ------------------------------------------------------------------ slider

RadioVolume::RadioVolume(float volume, Window* parent)
    : Window(32, 21, 75, 22, parent),
      handleImage(kHandlePicture),
      handleHoverImage(L"images/radio-slider-handler-hover.png"),
      barBackgroundImage(kBarBackgroundPicture),
      barImage(kBarPicture),
      barHoverImage(L"images/radio-sliderbar-bar-hover.png") {
    UpdateRegion();
    PlaceHandle(volume);
}

void RadioVolume::PlaceHandle(float volume) {
    handlePos = int(volume * float(Travel()));
}

bool RadioVolume::OverHandle(int x, int y) const {
    return x >= handlePos && x < handlePos + kHandleWidth && y >= 0 && y < height;
}

void RadioVolume::ReportPercent() {
    parent->OnCommand(Radio::VolumeCommand, handlePos * 100 / Travel());
}

void RadioVolume::Paint() {
    canvas->DrawImage(barBackgroundImage.get(), 5, 9);
    float barWidth = 0, barHeight = 0;
    gdip::PictureSize(barImage.get(), barWidth, barHeight);
    canvas->DrawImagePart(overSlider ? barHoverImage.get() : barImage.get(), 5, 9, 0, 0,
                          handlePos, int(barHeight));
    canvas->DrawImage(overHandle ? handleHoverImage.get() : handleImage.get(), float(handlePos),
                      0);
}

void RadioVolume::OnMouseLeave(MouseEvent&) {
    ClearHover();
}

void RadioVolume::ClearHover() {
    if (!overSlider && !overHandle)
        return;
    overSlider = false;
    overHandle = false;
    Invalidate();
}

void RadioVolume::OnMouseDown(MouseEvent& event) {
    if (OverHandle(event.x, event.y)) {
        root->SetMouseCapture(this);
        dragX = event.x;
        return;
    }
    // Anywhere else on the slider, the handle jumps under the pointer.
    handlePos = std::max(0, event.x - 6);
    if (handlePos + 12 > width)
        handlePos = width - 12;
    ReportPercent();
    dragX = event.x;
    root->SetMouseCapture(this);
    overHandle = true;
    Invalidate();
}

void RadioVolume::OnMouseUp(MouseEvent&) {
    root->ReleaseMouseCapture();
}

void RadioVolume::OnMouseMove(MouseEvent& event) {
    const bool repaintDue = !overSlider;
    overSlider = true;
    if (root->CaptureWindow() == this) {
        const bool pointerOnHandle = event.x >= handlePos && event.x < handlePos + kHandleWidth;
        const bool anchorOnHandle = dragX >= handlePos && dragX < handlePos + kHandleWidth;
        if (!pointerOnHandle && !anchorOnHandle) {
            if (repaintDue)
                Invalidate();
            return;
        }
        int delta = event.x - dragX;
        if (handlePos + delta < 0)
            delta = -handlePos;
        if (handlePos + delta + 12 > width)
            delta = width - handlePos - 12;
        handlePos += delta;
        dragX += delta;
        ReportPercent();
        Invalidate();
        return;
    }
    const bool over = OverHandle(event.x, event.y);
    if (over != overHandle || repaintDue) {
        overHandle = over;
        Invalidate();
    }
}

// ------------------------------------------------------------------- radio

struct Radio::Opening {
    enum State : int {
        Connecting,  // the thread is opening the stream
        Opened,      // the stream (perhaps 0) is the radio's to take
        Abandoned,   // the radio has gone: the thread disposes of the stream
    };

    bass::Functions call;  // a copy: the thread may outlive the radio
    std::string url;
    std::string proxy;  // the thread's, held until the open has returned
    DWORD stream = 0;   // written before the state leaves Connecting
    std::atomic<int> state{Connecting};
    bool discarded = false;  // a stop came before the stream; window thread only
};

namespace {

// The thread's body. Whatever the open returns has exactly one owner: the
// state changes once, either to Opened by this thread or to Abandoned by the
// radio's teardown.
void OpenStream(Radio::Opening& opening) {
    DWORD stream = 0;
    // An open that throws ends as one that failed, so the radio stops
    // waiting for it.
    Guarded([&] {
        // The proxy lookup may ask the network, or the user for a login.
        opening.proxy = GetStreamingProxy(opening.url.c_str());
        opening.call.SetConfigPtr(bass::kConfigNetProxy,
                                  opening.proxy.empty() ? nullptr : opening.proxy.c_str());
        stream = opening.call.StreamCreateURL(opening.url.c_str(), 0,
                                              bass::kStreamStatus | bass::kStreamAutoFree,
                                              nullptr, nullptr);
    });
    opening.stream = stream;
    int expected = Radio::Opening::Connecting;
    if (opening.state.compare_exchange_strong(expected, Radio::Opening::Opened))
        return;
    // Nobody else will stop it now. A library freed meanwhile returns no
    // stream at all, or answers a stale handle with an error.
    if (stream)
        opening.call.ChannelStop(stream);  // auto-free: gone
}

}  // namespace

Radio::Radio(Window* parent, const SettingsRecord* station, std::unique_ptr<bass::Library> audio)
    : Window(193, 399, 108, 41, parent), station(station), audio(std::move(audio)) {
    UpdateRegion();
    titleFont = canvas ? canvas->GetFont(kRegularFamily, 10, FontRegular) : nullptr;
    button = std::make_unique<RadioButton>(this);
    button->Show();
    volumeSlider = std::make_unique<RadioVolume>(volume, this);
    volumeSlider->Show();
}

Radio::~Radio() {
    KillWindowTimer(kOpenTimer);
    button->Hide();
    volumeSlider->Hide();
    // An open under way is not waited for: it may take the library's whole
    // time-out or a proxy login. From here its thread stops whatever stream
    // it gets; one that came already is stopped below. The library is then
    // freed under the open: it lets go itself of a stream that finishes
    // opening afterwards, and stays loaded for the thread.
    DWORD opened = 0;
    if (opening) {
        int expected = Opening::Connecting;
        if (!opening->state.compare_exchange_strong(expected, Opening::Abandoned))
            opened = opening->stream;
        if (WaitForSingleObject(openThread.get(), 0) != WAIT_OBJECT_0)
            ++threadsLeft;
    }
    if (!audio || !audio->call.complete() || !audioStarted)
        return;
    for (DWORD handle : {stream, opened})
        if (handle)
            audio->call.ChannelStop(handle);
    audio->call.Free();
}

void Radio::Paint() {
    if (station)
        canvas->DrawText(station->radio_title, titleFont, kTitleColour, 33, 6);
}

void Radio::OnCommand(int code, int param) {
    switch (code) {
    case StopCommand:
        Stop();
        break;
    case PlayCommand:
        Play();
        break;
    case VolumeCommand:
        volume = float(std::clamp(param, 0, 100) / 100.0);
        if (stream)
            audio->call.ChannelSetAttribute(stream, bass::kAttribVolume, volume);
        break;
    default:
        break;
    }
}

void Radio::Play() {
    if (stream) {
        // Already open: the play is told again.
        BroadcastEvent(RadioStarted, 0);
        audio->call.ChannelSetAttribute(stream, bass::kAttribVolume, volume);
        audio->call.ChannelPlay(stream, FALSE);
        button->SetState(RadioButton::Playing);
        return;
    }
    if (opening) {
        // The open asked for before is still under way: it plays after all.
        opening->discarded = false;
        return;
    }
    if (!audio)
        audio = bass::LoadLibraryBesideUs();
    if (!audio || !audio->call.complete() || !station)
        return;  // no library: as a stream that cannot be opened
    if (!audioStarted) {
        // At the first play rather than at start: opening the output
        // device costs the panel's start tens of milliseconds.
        audio->call.Init(-1, 44100, 0, surfaceWindow, nullptr);
        audioStarted = true;
    }
    auto record = std::make_shared<Opening>();
    record->call = audio->call;
    record->url = station->radio_url;
    KernelHandle thread = StartOwnThread([record] { OpenStream(*record); });
    if (!thread)
        return;
    opening = std::move(record);
    openThread = std::move(thread);
    SetWindowTimer(kOpenTimer, kOpenPollMs);
}

void Radio::OnTimer(int id) {
    if (id == kOpenTimer && opening && opening->state == Opening::Opened)
        FinishOpening();
}

void Radio::FinishOpening() {
    KillWindowTimer(kOpenTimer);
    // Not joined: the thread is on its way out and holds the library itself.
    openThread.reset();
    std::shared_ptr<Opening> finished = std::move(opening);
    if (finished->discarded) {
        if (finished->stream)
            audio->call.ChannelStop(finished->stream);  // auto-free: gone
        return;
    }
    // A stream that could not be opened leaves the button as it is.
    stream = finished->stream;
    if (!stream)
        return;
    BroadcastEvent(RadioStarted, 0);
    audio->call.ChannelSetAttribute(stream, bass::kAttribVolume, volume);
    audio->call.ChannelPlay(stream, FALSE);
    button->SetState(RadioButton::Playing);
}

void Radio::Stop() {
    BroadcastEvent(RadioStopped, 0);
    if (opening)
        opening->discarded = true;
    if (stream)
        audio->call.ChannelStop(stream);
    stream = 0;
}

void Radio::SetVolume(float v) {
    volume = v;
    volumeSlider->PlaceHandle(v);
    volumeSlider->Invalidate();
    if (stream)
        audio->call.ChannelSetAttribute(stream, bass::kAttribVolume, volume);
    Invalidate();
}
