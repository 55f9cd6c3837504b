#pragma once
// Small owners for the handle kinds the program uses. Copying is forbidden.
#include <windows.h>

// Opens the clipboard, retrying for about 100 ms: another program (or Wine's
// clipboard manager) often holds it open for a moment right after a change.
// Fails while this thread already holds it: the same window may open it
// twice, and the inner close would close it under the outer operation.
BOOL OpenClipboardRetry(HWND owner);

class ClipboardGuard {
public:
    explicit ClipboardGuard(HWND owner) : m_open(OpenClipboardRetry(owner)) {}
    ~ClipboardGuard() { Close(); }
    ClipboardGuard(const ClipboardGuard &) = delete;
    ClipboardGuard &operator=(const ClipboardGuard &) = delete;
    bool ok() const { return m_open != FALSE; }
    void Close();

private:
    BOOL m_open;
};

// A movable global block; hand it to the clipboard with Detach() only after
// SetClipboardData succeeded.
class GlobalBlock {
public:
    explicit GlobalBlock(HGLOBAL h = nullptr) : m_h(h) {}
    ~GlobalBlock()
    {
        if (m_h)
            GlobalFree(m_h);
    }
    GlobalBlock(const GlobalBlock &) = delete;
    GlobalBlock &operator=(const GlobalBlock &) = delete;
    HGLOBAL get() const { return m_h; }
    HGLOBAL Detach()
    {
        HGLOBAL h = m_h;
        m_h = nullptr;
        return h;
    }
    void Reset(HGLOBAL h = nullptr)
    {
        if (m_h)
            GlobalFree(m_h);
        m_h = h;
    }

private:
    HGLOBAL m_h;
};

template <typename T = void> class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) : m_h(h), m_p(h ? static_cast<T *>(GlobalLock(h)) : nullptr) {}
    ~GlobalLockGuard()
    {
        if (m_p)
            GlobalUnlock(m_h);
    }
    GlobalLockGuard(const GlobalLockGuard &) = delete;
    GlobalLockGuard &operator=(const GlobalLockGuard &) = delete;
    T *get() const { return m_p; }

private:
    HGLOBAL m_h;
    T *m_p;
};

class RegKey {
public:
    RegKey() : m_h(nullptr) {}
    ~RegKey()
    {
        if (m_h)
            RegCloseKey(m_h);
    }
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    HKEY *put() { return &m_h; }
    HKEY get() const { return m_h; }

private:
    HKEY m_h;
};

// A file opened with CreateFile (INVALID_HANDLE_VALUE on failure).
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle()
    {
        if (ok())
            CloseHandle(m_h);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    bool ok() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

// A window's device context (GetDC), released with it.
class WindowDC {
public:
    explicit WindowDC(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDC()
    {
        if (m_dc)
            ReleaseDC(m_window, m_dc);
    }
    WindowDC(const WindowDC &) = delete;
    WindowDC &operator=(const WindowDC &) = delete;
    HDC get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// A memory device context compatible with `dc`, deleted with it.
class MemoryDC {
public:
    explicit MemoryDC(HDC dc) : m_dc(CreateCompatibleDC(dc)) {}
    ~MemoryDC()
    {
        if (m_dc)
            DeleteDC(m_dc);
    }
    MemoryDC(const MemoryDC &) = delete;
    MemoryDC &operator=(const MemoryDC &) = delete;
    HDC get() const { return m_dc; }

private:
    HDC m_dc;
};

// Selects a GDI object into a device context until the end of the scope.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~SelectedObject()
    {
        if (m_old)
            SelectObject(m_dc, m_old);
    }
    SelectedObject(const SelectedObject &) = delete;
    SelectedObject &operator=(const SelectedObject &) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A GDI object (a bitmap, a font), deleted with it.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ object = nullptr) : m_object(object) {}
    ~GdiObject()
    {
        if (m_object)
            DeleteObject(m_object);
    }
    GdiObject(const GdiObject &) = delete;
    GdiObject &operator=(const GdiObject &) = delete;
    HGDIOBJ get() const { return m_object; }
    void Reset(HGDIOBJ object)
    {
        if (m_object)
            DeleteObject(m_object);
        m_object = object;
    }

private:
    HGDIOBJ m_object;
};
