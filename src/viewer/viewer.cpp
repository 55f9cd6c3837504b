// The clipboard viewer: one clipboard format at a time, as text, as a hex
// dump, as rendered rich text or as a picture.
#include "viewer.h"
#include "render.h"
#include "util/artscale.h"
#include "clipboard/clipboard.h"
#include "clipboard/formats.h"
#include "clipboard/textfile.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"
#include "rowlist.h"
#include "util/messages.h"
#include <commdlg.h>
#include <richedit.h>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Bytes of CF_TEXT on the clipboard at the last refresh; 0 without text.
DWORD m_TextSize;

enum Layout { LAYOUT_TEXT = 1, LAYOUT_RICHTEXT = 2, LAYOUT_PICTURE = 4 };

// Set once the viewer is initialised: from then on a clipboard change closes it.
BOOL m_Viewing;
// [0] the disabled look, [1] the enabled look of the add button.
HBITMAP m_bmpAdd[2];
HWND m_hwndRTF;
// One refresh shows a picture format's data as a dump.
BOOL m_ShowSource;
// A hex dump, or zero bytes replaced; both off whenever the viewer opens.
ViewerModes m_Modes;
// What the add button does, given by the program; none: the button is idle.
void (*m_AddCommand)(HWND owner);

// The edit control lays out this many lines in about a third of a second
// under Wine; longer text goes to the row list.
constexpr size_t EDIT_MAX_ROWS = 8192;

const DWORD RICHTEXT_STYLE =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_SUNKEN | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;

#define IMAGE_LINES "Image Type:   %s\r\nImage Size:   %u px (width) x %u px (height)"
#define DEPTH_LINE "\r\nColor Depth:  %u bits per pixel"

RECT ChildRect(HWND dlg, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

void ViewerControl(HWND dlg, int layout)
{
    HWND pane = GetDlgItem(dlg, IDC_VIEWTEXT);
    HWND frame = GetDlgItem(dlg, IDC_PICTUREFRAME);
    // The row list stands in for the text pane until the next layout.
    FreeRowList();
    RECT f = ChildRect(dlg, frame);
    RECT t = ChildRect(dlg, pane);
    t.bottom = layout == LAYOUT_PICTURE ? f.top - 1 : f.bottom;
    if (layout == LAYOUT_RICHTEXT) {
        if (!m_hwndRTF)
            m_hwndRTF = CreateWindowExA(0, "RichEdit20A", "", RICHTEXT_STYLE, t.left, t.top, t.right - t.left,
                                        t.bottom - t.top, dlg, reinterpret_cast<HMENU>(IDC_VIEWRTF),
                                        gvGlobals.hInstance, nullptr);
    } else if (m_hwndRTF) {
        DestroyWindow(m_hwndRTF);
        m_hwndRTF = nullptr;
    }
    ShowWindow(pane, layout == LAYOUT_RICHTEXT ? SW_HIDE : SW_SHOW);
    ShowWindow(frame, layout == LAYOUT_PICTURE ? SW_SHOW : SW_HIDE);
    if (layout != LAYOUT_RICHTEXT)
        MoveWindow(pane, t.left, t.top, t.right - t.left, t.bottom - t.top, TRUE);
    EnableWindow(GetDlgItem(dlg, IDC_VIEWSAVE), layout == LAYOUT_TEXT);
    InvalidateRect(dlg, nullptr, TRUE);
    UpdateWindow(dlg);
}

void ShowAddButton(HWND dlg, bool enabled)
{
    ShowPictureButton(GetDlgItem(dlg, IDC_VIEWADD), m_bmpAdd[enabled], enabled);
}

// Renders a picture format into the frame and describes it in `info`; a
// format without a rendering path leaves both as they were.
void RenderPicture(HWND dlg, UINT format, char *info, size_t size)
{
    const char *type = nullptr;
    bool depth = true;
    switch (format) {
    case CF_BITMAP:
        type = "BITMAP";
        break;
    case CF_DIB:
        type = "Device Independent Bitmap";
        break;
    case CF_DIBV5:
        type = "Device Independent Bitmap V5";
        break;
    case CF_METAFILEPICT:
    case CF_DSPMETAFILEPICT:
        type = "Windows Metafile";
        depth = false;
        break;
    case CF_ENHMETAFILE:
    case CF_DSPENHMETAFILE:
        type = "Windows Enhanced Metafile";
        depth = false;
        break;
    case CF_TIFF:
        ClipboardToBitmap(dlg, format);
        snprintf(info, size, "Image Type:   TIFF Image");
        return;
    default:
        if (format == gvGlobals.cfPNG)
            type = "PNG (Portable Network Graphic)";
        else if (format == gvGlobals.cfJFIF)
            type = "JFIF (JPEG Interchange Format)";
        else
            return;
    }
    ClipboardToBitmap(dlg, format);
    const MyBmpInfo picture = RenderedPictureInfo();
    const unsigned w = picture.width, h = picture.height, bits = picture.bitsPerPixel;
    if (depth)
        snprintf(info, size, IMAGE_LINES DEPTH_LINE, type, w, h, bits);
    else
        snprintf(info, size, IMAGE_LINES, type, w, h);
}

void ShowPicture(HWND dlg, UINT format)
{
    const int boxes[] = {IDC_VIEWHEX, IDC_VIEWNULLS};
    for (int id : boxes) {
        HWND box = GetDlgItem(dlg, id);
        EnableWindow(box, FALSE);
        ShowWindow(box, SW_HIDE);
    }
    ViewerControl(dlg, LAYOUT_PICTURE);
    char info[250] = "(unexpected error)";
    RenderPicture(dlg, format, info, sizeof info);
    SetDlgItemTextA(dlg, IDC_VIEWSIZE, "");
    SetDlgItemTextA(dlg, IDC_VIEWTEXT, info);
    ShowWindow(GetDlgItem(dlg, IDC_VIEWSOURCE), SW_SHOW);
    m_TextSize = 0;
    ShowAddButton(dlg, false);
}

// Shows a zero-terminated text in the text pane or, when the edit control
// would take seconds to lay it out, in the row list, which keeps the block.
void SetPaneText(HWND dlg, GlobalBlock &block)
{
    GlobalLockGuard<char> text(block.get());
    if (!text.get()) {
        ShowStringMessage(dlg, IDS_LOCKFAILED, MB_ICONINFORMATION);
        return;
    }
    HWND pane = GetDlgItem(dlg, IDC_VIEWTEXT);
    const size_t length = strlen(text.get());
    const size_t rows = CountRows(text.get(), length);
    if (rows <= EDIT_MAX_ROWS) {
        SetWindowTextA(pane, text.get());
        return;
    }
    SetWindowTextA(pane, "");
    if (!ShowRowList(dlg, IDC_VIEWROWS, pane, block.Detach(), length, rows))
        ShowStringMessage(dlg, IDS_ALLOCFAILED, MB_ICONINFORMATION);
}

// UTF-8 of the block's first `chars` characters, zero-terminated, or null.
// With zero bytes replaced the data holds no terminator of its own, so the
// count, not a terminator, bounds the conversion.
HGLOBAL Utf8Copy(HGLOBAL block, SIZE_T chars)
{
    GlobalLockGuard<const wchar_t> wide(block);
    if (!wide.get())
        return nullptr;
    const int count = chars < INT_MAX ? static_cast<int>(chars) : INT_MAX;
    const int size =
        count ? WideCharToMultiByte(CP_UTF8, 0, wide.get(), count, nullptr, 0, nullptr, nullptr) : 0;
    // Zero-filled, so terminated after the converted bytes.
    HGLOBAL utf8 = GlobalAlloc(GPTR, static_cast<SIZE_T>(size) + 1);
    if (utf8 && size)
        WideCharToMultiByte(CP_UTF8, 0, wide.get(), count, static_cast<char *>(utf8), size, nullptr, nullptr);
    return utf8;
}

void ShowBlock(HWND dlg, HGLOBAL handle, SIZE_T size, int category, bool richText)
{
    GlobalBlock block(handle);
    if (!m_Modes.hexDump && category == FMT_UNICODE) {
        GlobalBlock utf8(Utf8Copy(block.get(), size / 2));
        if (utf8.get())
            SetPaneText(dlg, utf8);
        else
            ShowStringMessage(dlg, IDS_ALLOCFAILED, MB_ICONINFORMATION);
    } else if (richText) {
        GlobalLockGuard<char> text(block.get());
        if (!text.get()) {
            ShowStringMessage(dlg, IDS_LOCKFAILED, MB_ICONINFORMATION);
            return;
        }
        // The block is at least as long as the text; a rich edit's default
        // limit would cut anything beyond 32K characters.
        SendMessageA(m_hwndRTF, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(GlobalSize(block.get())));
        SetWindowTextA(m_hwndRTF, text.get());
    } else {
        SetPaneText(dlg, block);
    }
}

void ShowData(HWND dlg, UINT format, int category)
{
    if (m_ShowSource) {
        m_Modes.hexDump = true;
        m_ShowSource = FALSE;
    }
    ShowWindow(GetDlgItem(dlg, IDC_VIEWSOURCE), SW_HIDE);
    HWND hex = GetDlgItem(dlg, IDC_VIEWHEX);
    HWND nulls = GetDlgItem(dlg, IDC_VIEWNULLS);
    ShowWindow(hex, SW_SHOW);
    ShowWindow(nulls, SW_SHOW);
    CheckDlgButton(dlg, IDC_VIEWHEX, m_Modes.hexDump ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, IDC_VIEWNULLS, m_Modes.nullChar ? BST_CHECKED : BST_UNCHECKED);
    const bool richText = format == gvGlobals.cfRTF && !m_Modes.hexDump;
    EnableWindow(hex, m_Modes.nullChar == 0);
    EnableWindow(nulls, !richText && !m_Modes.hexDump);
    ViewerControl(dlg, richText ? LAYOUT_RICHTEXT : LAYOUT_TEXT);

    SIZE_T size = 0, dataSize = 0;
    HGLOBAL block = INVALID_BLOCK;
    {
        ClipboardSession clip(dlg);
        if (clip.ok()) {
            // A dump of megabytes takes a moment.
            HCURSOR cursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
            block = GetClipboardBlock(dlg, format, CASE_NONE, &size, m_Modes);
            dataSize = size;
            SetCursor(cursor);
        }
        SIZE_T textSize = 0;
        if (format == CF_TEXT) {
            m_TextSize = static_cast<DWORD>(size);
        } else if (clip.ok() && GetClipboardBlockSize(CF_TEXT, &textSize)) {
            size = textSize;
            m_TextSize = static_cast<DWORD>(size);
        } else {
            m_TextSize = 0;
        }
    }
    // Filled with the clipboard closed: laying out long rich text takes
    // seconds, and other programs could not copy meanwhile.
    if (block != INVALID_BLOCK)
        ShowBlock(dlg, block, dataSize, category, richText);
    char label[32];
    snprintf(label, sizeof label, "%u Bytes", static_cast<unsigned>(size));
    SetDlgItemTextA(dlg, IDC_VIEWSIZE, label);
    ShowAddButton(dlg, m_TextSize != 0 && m_AddCommand);
}

void OnBtnRefresh(HWND dlg)
{
    HWND list = GetDlgItem(dlg, IDC_VIEWFORMATS);
    LRESULT item = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (item == CB_ERR)
        return;
    const DWORD data = static_cast<DWORD>(SendMessageA(list, CB_GETITEMDATA, item, 0));
    const int category = HIWORD(data);
    const UINT format = LOWORD(data);
    if (category == FMT_PICTURE && !m_ShowSource)
        ShowPicture(dlg, format);
    else
        ShowData(dlg, format, category);
}

// Writes what the text pane shows; the system's error code or ERROR_SUCCESS.
DWORD SavePane(HWND dlg, const char *path)
{
    size_t length = 0;
    if (const char *rows = RowListText(&length))
        return WriteTextFile(path, rows, static_cast<DWORD>(length));
    HWND pane = GetDlgItem(dlg, IDC_VIEWTEXT);
    const int limit = GetWindowTextLengthA(pane) + 1;
    GlobalBlock block(GlobalAlloc(GPTR, static_cast<SIZE_T>(limit)));
    if (!block.get())
        return ERROR_NOT_ENOUGH_MEMORY;
    char *text = static_cast<char *>(block.get());
    // The length is an upper bound; the copy says how much there is.
    return WriteTextFile(path, text, static_cast<DWORD>(GetWindowTextA(pane, text, limit)));
}

// The text pane's bytes as shown, without a terminator. Confirmed only when
// written: a failure shows the system's reason instead.
void OnBtnSaveas(HWND dlg)
{
    char path[MAX_PATH];
    if (!AskSaveFileName(dlg, path))
        return;
    const DWORD error = SavePane(dlg, path);
    if (error != ERROR_SUCCESS)
        SystemMessage(dlg, error);
    else
        ShowStringMessage(dlg, IDS_FILECREATED, MB_ICONINFORMATION);
}

void FillFormatList(HWND dlg)
{
    HWND list = GetDlgItem(dlg, IDC_VIEWFORMATS);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    ClipboardSession clip(dlg);
    if (!clip.ok())
        return;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        char name[64];
        int category = FMT_OTHER;
        FmtName(format, name, sizeof name, &category);
        LRESULT item = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        if (item >= 0)
            SendMessageA(list, CB_SETITEMDATA, item, MAKELONG(format, category));
    }
}

HBITMAP LoadAddImage(int id)
{
    // The images' 3-D grey becomes the button face of the current colours.
    return static_cast<HBITMAP>(LoadImageA(gvGlobals.hInstance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                                           LR_CREATEDIBSECTION | LR_LOADMAP3DCOLORS));
}

void OnInitDialog(HWND dlg)
{
    HWND pane = GetDlgItem(dlg, IDC_VIEWTEXT);
    SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
    // An edit control takes 32K characters by default; the pane's text runs
    // to EDIT_MAX_ROWS rows.
    SendMessageA(pane, EM_SETLIMITTEXT, 0, 0);
    m_bmpAdd[0] = LoadAddImage(IDB_ADDGREY);
    m_bmpAdd[1] = LoadAddImage(IDB_ADD);
    // Shown disabled even when an empty clipboard leaves nothing to refresh.
    ShowAddButton(dlg, false);
    // Told of changes by the listener alone: in the viewer chain it would
    // leave on the first change, possibly before that change's message had
    // reached it, and every viewer after it would miss the change.
    AddClipboardFormatListener(dlg);
    ViewerControl(dlg, LAYOUT_TEXT);
    FillFormatList(dlg);
    SendDlgItemMessageA(dlg, IDC_VIEWFORMATS, CB_SETCURSEL, 0, 0);
    ShowWindow(GetDlgItem(dlg, IDC_VIEWPROGRESS), SW_HIDE);
    m_Modes.hexDump = false;
    m_Modes.nullChar = 0;
    OnBtnRefresh(dlg);
    SetFocus(GetDlgItem(dlg, IDC_VIEWFORMATS));
    m_Viewing = TRUE;
}

void OnShowNulls(HWND dlg)
{
    if (IsDlgButtonChecked(dlg, IDC_VIEWNULLS) == BST_CHECKED) {
        char text[4] = "";
        GetSettingsStringA(nullptr, "DisplayNullAs", ".", text, sizeof text);
        m_Modes.nullChar = text[0];
    } else {
        m_Modes.nullChar = 0;
    }
    EnableWindow(GetDlgItem(dlg, IDC_VIEWHEX), m_Modes.nullChar == 0);
    OnBtnRefresh(dlg);
}

// The pictures, bitmaps and the chain are let go on WM_DESTROY.
void CloseViewer(HWND dlg, INT_PTR code)
{
    m_Viewing = FALSE;
    EndDialog(dlg, code);
}

// Only plain clicks: notifications such as a new list selection match nothing.
void OnCommand(HWND dlg, WPARAM command)
{
    switch (command) {
    case IDOK:
        CloseViewer(dlg, 1);
        break;
    case IDC_VIEWHEX:
        m_Modes.hexDump = !m_Modes.hexDump;
        OnBtnRefresh(dlg);
        break;
    case IDC_VIEWREFRESH:
        OnBtnRefresh(dlg);
        break;
    case IDC_VIEWSAVE:
        OnBtnSaveas(dlg);
        break;
    case IDC_VIEWNULLS:
        OnShowNulls(dlg);
        break;
    case IDC_VIEWADD:
        if (m_AddCommand)
            m_AddCommand(dlg);
        break;
    case IDC_VIEWSOURCE:
        m_ShowSource = TRUE;
        OnBtnRefresh(dlg);
        break;
    default:
        // Escape (IDCANCEL) among them: only Close and the close box end the viewer.
        break;
    }
}

// The rest of the close sequence. Run on destruction, it also holds for a
// viewer destroyed with its owner: no dead window stays in the chain.
void OnDestroy(HWND dlg)
{
    m_Viewing = FALSE;
    FreePicture();
    FreeRowList();
    m_hwndRTF = nullptr;
    SendDlgItemMessageA(dlg, IDC_VIEWADD, BM_SETIMAGE, IMAGE_BITMAP, 0);
    for (HBITMAP &bitmap : m_bmpAdd) {
        if (bitmap)
            DeleteObject(bitmap);
        bitmap = nullptr;
    }
    RemoveClipboardFormatListener(dlg);
}

INT_PTR CALLBACK ViewDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInitDialog(dlg);
        return FALSE;
    case WM_COMMAND:
        OnCommand(dlg, wParam);
        return TRUE;
    case WM_SYSCOMMAND:
        // Not WM_CLOSE: a multi-line edit sends that for Escape.
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            CloseViewer(dlg, 2);
            return TRUE;
        }
        return FALSE;
    case WM_CLIPBOARDUPDATE:
        if (m_Viewing)
            CloseViewer(dlg, 2);
        return TRUE;
    case WM_NOTIFY: {
        auto *hdr = reinterpret_cast<NMHDR *>(lParam);
        if (hdr->idFrom != IDC_VIEWROWS || hdr->code != LVN_GETDISPINFOA)
            return FALSE;
        OnRowListDispInfo(reinterpret_cast<NMLVDISPINFOA *>(lParam));
        return TRUE;
    }
    case WM_DRAWITEM:
        if (wParam != IDC_PICTUREFRAME)
            return FALSE;
        PaintPictureFrame(reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_DESTROY:
        OnDestroy(dlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR ViewDialog(HWND owner)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_VIEWER), owner, ViewDlgProc, 0);
}

void SetViewerAddCommand(void (*add)(HWND owner))
{
    m_AddCommand = add;
}
