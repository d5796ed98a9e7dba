// The streaming audio library's interface: the part of the vendor's
// documented API that the radio calls, with the vendor's types, constants,
// calling convention and undecorated C names, so that the vendor's bass.dll
// can replace ours without a rebuild of the widget.
//
// Every function may be called from any thread; a stream plays on a thread
// of its own. BASS_ErrorGetCode answers for the calling thread's last call.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef DWORD HSTREAM;  // a stream; 0 = none

typedef void(CALLBACK DOWNLOADPROC)(const void* buffer, DWORD length, void* user);

// Error codes of BASS_ErrorGetCode.
#define BASS_OK 0
#define BASS_ERROR_MEM 1        // memory error
#define BASS_ERROR_FILEOPEN 2   // the server could not be reached or refused the file
#define BASS_ERROR_DRIVER 3     // the output device could not be opened
#define BASS_ERROR_HANDLE 5     // no such stream
#define BASS_ERROR_FORMAT 6     // the decoder refused the stream's sample format
#define BASS_ERROR_INIT 8       // BASS_Init has not been called
#define BASS_ERROR_SSL 10       // secure connections are not supported
#define BASS_ERROR_ALREADY 14   // already initialised
#define BASS_ERROR_ILLTYPE 19   // an option this library does not know
#define BASS_ERROR_ILLPARAM 20  // an invalid argument
#define BASS_ERROR_DEVICE 23    // no such output device
#define BASS_ERROR_NONET 32     // no connection could be opened
#define BASS_ERROR_TIMEOUT 40   // the server did not answer in time
#define BASS_ERROR_FILEFORM 41  // the stream holds no playable audio
#define BASS_ERROR_UNKNOWN -1

// BASS_SetConfigPtr options.
#define BASS_CONFIG_NET_PROXY 17  // "[login:password@]host:port", or NULL for none

// BASS_StreamCreateURL flags.
#define BASS_STREAM_AUTOFREE 0x40000  // free the stream when it stops or ends
#define BASS_STREAM_STATUS 0x800000   // pass the server's answer to the download callback
#define BASS_UNICODE 0x80000000       // the URL is a UTF-16 string

// BASS_ChannelSetAttribute attributes.
#define BASS_ATTRIB_VOL 2  // 0 (silent) to 1 (full)

// device: -1 for the system's default output, 1 for the first device. Each
// stream plays at its own sample rate, so freq, flags, win and dsguid are
// accepted and not used.
BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* dsguid);
// Stops and frees every stream.
BOOL WINAPI BASS_Free(void);
BOOL WINAPI BASS_SetConfigPtr(DWORD option, const void* value);
// Blocks until the server's answer and the first MP3 frames have come (each
// step bounded by 10 s) and the decoder and output device are open; 0 when
// anything fails, or when BASS_Free came meanwhile (BASS_ERROR_INIT, even
// if BASS_Init came again since). offset is not used: a live stream starts
// where it is.
// With a callback, proc receives the status line (length 0, when
// BASS_STREAM_STATUS is given), then each block of the body as the playing
// thread reads it, then (NULL, 0) at the end.
HSTREAM WINAPI BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags,
                                    DOWNLOADPROC* proc, void* user);
// BASS_ATTRIB_VOL only; values outside 0..1 count as the nearer end. A
// change glides into the sound over the next few tenths of a second.
BOOL WINAPI BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
// restart is not used: a live stream plays on from where it is.
BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart);
// Stops the sound at once; a BASS_STREAM_AUTOFREE stream is freed with it.
BOOL WINAPI BASS_ChannelStop(DWORD handle);
int WINAPI BASS_ErrorGetCode(void);

#ifdef __cplusplus
}
#endif
