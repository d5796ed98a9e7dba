// Entry point of orvella.dll, in the host's and in the shell's process.
#include "host/HostBridge.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        Bridge().module = module;
    return TRUE;
}
