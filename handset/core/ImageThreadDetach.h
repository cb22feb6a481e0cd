// Ends, for the calling thread, what the runtime linked into this image keeps
// per thread. On i686 the C++ runtime registers the image's unwind tables at
// load through winpthreads, which gives the loading thread a record of its
// own (a duplicate of the thread's handle and an event); a thread that calls
// into the runtime later (a throw, thread-local data) gets one too. Only the
// image's thread-detach notification frees them, and a thread that outlives
// the image never gets it: each load and unload left both handles behind in
// the host. The image's own TLS callbacks, called with DLL_THREAD_DETACH,
// free them as at the end of that thread. Read from the image's PE headers
// (its TLS directory), so it holds for whatever the toolchain put there.
#pragma once

#include <windows.h>

inline void DetachThisThreadFromImage(HINSTANCE hImage) {
    const BYTE *pBase = reinterpret_cast<const BYTE *>(hImage);
    const IMAGE_DOS_HEADER *pDos = reinterpret_cast<const IMAGE_DOS_HEADER *>(pBase);
    if (!pBase || pDos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const IMAGE_NT_HEADERS *pNt = reinterpret_cast<const IMAGE_NT_HEADERS *>(pBase + pDos->e_lfanew);
    if (pNt->Signature != IMAGE_NT_SIGNATURE || pNt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_TLS)
        return;
    const IMAGE_DATA_DIRECTORY &dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (!dir.VirtualAddress || dir.Size < sizeof(IMAGE_TLS_DIRECTORY)) return;
    const IMAGE_TLS_DIRECTORY *pTls = reinterpret_cast<const IMAGE_TLS_DIRECTORY *>(pBase + dir.VirtualAddress);
    // AddressOfCallBacks holds an address already relocated by the loader.
    PIMAGE_TLS_CALLBACK *ppCallback = reinterpret_cast<PIMAGE_TLS_CALLBACK *>(pTls->AddressOfCallBacks);
    for (; ppCallback && *ppCallback; ++ppCallback) (*ppCallback)(hImage, DLL_THREAD_DETACH, nullptr);
}
