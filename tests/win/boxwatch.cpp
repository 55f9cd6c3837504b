#include "boxwatch.h"
#include "testutil.h"
#include "resources/resource.h"
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct Expectation {
    std::string caption;
    BoxAnswer answer;
};

std::mutex g_lock;
std::vector<Expectation> g_expected;
// Marks a box once handled; it goes with the window.
const char *const HANDLED = "QuilletTestHandled";

bool IsBox(HWND hwnd)
{
    char cls[16] = "";
    DWORD pid = 0;
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowThreadProcessId(hwnd, &pid);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(hwnd) || pid != GetCurrentProcessId())
        return false;
    // Questions owned by the desktop (the clipping name) disable no owner;
    // they are told from the splash by their Cancel button.
    HWND owner = GetWindow(hwnd, GW_OWNER);
    return GetDlgItem(hwnd, 0xFFFF) ||
           (owner ? !IsWindowEnabled(owner) : GetDlgItem(hwnd, IDCANCEL) != nullptr);
}

void Handle(HWND box)
{
    if (GetPropA(box, HANDLED)) {
        PostMessageA(box, WM_COMMAND, IDOK, 0); // an unexpected box ignored IDCANCEL
        return;
    }
    SetPropA(box, HANDLED, box);
    const std::string caption = WindowText(box);
    std::unique_lock<std::mutex> guard(g_lock);
    auto it = std::find_if(g_expected.begin(), g_expected.end(),
                           [&caption](const Expectation &e) { return e.caption == caption; });
    if (it == g_expected.end()) {
        ADD_FAILURE() << "unexpected box \"" << caption << "\": " << WindowText(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    const BoxAnswer answer = it->answer;
    g_expected.erase(it);
    guard.unlock();
    answer(box);
}

// Closes a box of the dialog's thread other than the dialog itself: the
// watcher thread that would close it is busy working that dialog.
BOOL CALLBACK CloseOtherBox(HWND hwnd, LPARAM dlg)
{
    if (hwnd != reinterpret_cast<HWND>(dlg) && IsBox(hwnd)) {
        ADD_FAILURE() << "box \"" << WindowText(hwnd)
                      << "\" instead: " << WindowText(GetDlgItem(hwnd, 0xFFFF));
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
}

BOOL CALLBACK Visit(HWND hwnd, LPARAM)
{
    if (IsBox(hwnd))
        Handle(hwnd);
    return TRUE;
}

} // namespace

void StartBoxWatcher()
{
    std::thread([] {
        for (;; Sleep(50))
            EnumWindows(Visit, 0);
    }).detach();
}

void ExpectBox(const std::string &caption, BoxAnswer answer)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_expected.push_back({caption, std::move(answer)});
}

int TakePendingBoxes()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return (int)std::exchange(g_expected, {}).size();
}

INT_PTR RunDialog(const std::string &caption, const std::function<INT_PTR(HWND owner)> &open,
                  const std::function<void(HWND)> &drive)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    ExpectBox(caption, [drive, done](HWND dlg) {
        drive(dlg);
        *done = true;
    });
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    INT_PTR result = open(owner);
    EXPECT_TRUE(WaitFor([done] { return done->load(); }, 20000)) << caption;
    EXPECT_EQ(0, TakePendingBoxes());
    DestroyWindow(owner);
    return result;
}

std::string AnswerBox(HWND dlg, WPARAM command, const char *caption, int button, const char *name)
{
    std::atomic<bool> sent{false};
    std::thread sender([dlg, command, &sent] {
        SendMessageA(dlg, WM_COMMAND, command, 0);
        sent = true;
    });
    HWND box = nullptr;
    std::string shown;
    if (WaitFor([&box, caption] { return (box = FindWindowA("#32770", caption)) && IsWindowVisible(box); })) {
        EXPECT_FALSE(IsWindowEnabled(dlg)) << caption;
        shown = WindowText(GetDlgItem(box, name ? IDC_CLIPNAME : 0xFFFF));
        if (name)
            SetDlgItemTextA(box, IDC_CLIPNAME, name);
        PostMessageA(box, WM_COMMAND, button, 0);
    } else {
        ADD_FAILURE() << "no box \"" << caption << "\"";
        // Whatever the command opened instead is closed, so that it returns.
        for (; !sent; Sleep(100))
            EnumThreadWindows(GetWindowThreadProcessId(dlg, nullptr), CloseOtherBox,
                              reinterpret_cast<LPARAM>(dlg));
    }
    sender.join();
    return shown;
}

BoxAnswer ClickButton(int id)
{
    return [id](HWND box) { SendDlgItemMessageA(box, id, BM_CLICK, 0, 0); };
}

BoxAnswer NoteText(std::string *text)
{
    return [text](HWND box) {
        *text = WindowText(GetDlgItem(box, 0xFFFF));
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
    };
}

BoxAnswer TypePath(const std::string &path)
{
    return [path](HWND box) {
        HWND name = GetDlgItem(box, 0x47c);
        SetWindowTextA(name ? name : GetDlgItem(box, 0x480), path.c_str());
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    };
}
