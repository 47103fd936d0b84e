// The library's load notification. On Windows the loader calls DllMain; the
// library asks not to be told about threads, since it keeps no per-thread
// state, and always reports success. Other systems have no counterpart that
// needs answering, so nothing is compiled there.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
#endif
