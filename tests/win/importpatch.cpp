#include "importpatch.h"
#include <cstring>

namespace {

// The slot of this program's import of a function of `dll`.
void **ImportSlot(const char *dll, const char *name)
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *nt =
        reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto *desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports); desc->Name; desc++) {
        if (_stricmp(reinterpret_cast<char *>(base + desc->Name), dll) != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++)
            if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name,
                       name) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
    }
    return nullptr;
}

} // namespace

ImportPatch::ImportPatch(const char *dll, const char *name, void *replacement)
    : m_slot(ImportSlot(dll, name)), m_real(Swap(replacement))
{
}

ImportPatch::~ImportPatch()
{
    Swap(m_real);
}

void *ImportPatch::Swap(void *fn)
{
    DWORD old;
    if (!m_slot || !VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &old))
        return nullptr;
    return InterlockedExchangePointer(m_slot, fn);
}

HGLOBAL WINAPI AllocBelow16MiB(UINT flags, SIZE_T size)
{
    return size < (16 << 20) ? RealFunction(&GlobalAlloc, "kernel32.dll", "GlobalAlloc")(flags, size)
                             : nullptr;
}

LPVOID WINAPI LockAllBut4321(HGLOBAL block)
{
    return GlobalSize(block) != 4321 ? RealFunction(&GlobalLock, "kernel32.dll", "GlobalLock")(block)
                                     : nullptr;
}
