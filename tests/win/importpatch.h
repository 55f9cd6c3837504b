#pragma once
// While an ImportPatch lives, this program's calls of one imported function
// go to a replacement: Wine neither runs out of memory, nor fails a lock or
// a dialog, on demand.
#include <windows.h>

class ImportPatch {
public:
    ImportPatch(const char *dll, const char *name, void *replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;
    bool ok() const { return m_real != nullptr; }

private:
    void *Swap(void *fn);
    void **m_slot;
    void *m_real;
};

// The real function behind a patched import, for the replacement to call.
template <typename Fn> Fn RealFunction(Fn, const char *dll, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA(dll), name)));
}

// Replacements for GlobalAlloc and GlobalLock: no block of 16 MiB or more
// can be had; blocks of 4321 bytes cannot be locked.
HGLOBAL WINAPI AllocBelow16MiB(UINT flags, SIZE_T size);
LPVOID WINAPI LockAllBut4321(HGLOBAL block);
