#include "boxwatch.h"
#include "testutil.h"
#include "resources/resource.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Expectation {
    std::string caption;
    BoxAnswer answer;
};

std::mutex g_lock;
std::vector<Expectation> g_expected;
std::set<HWND> g_handled;

bool IsBox(HWND hwnd)
{
    char cls[16] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(hwnd))
        return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId())
        return false;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    bool messageBox = GetDlgItem(hwnd, 0xFFFF) != nullptr;
    // Questions owned by the desktop (the clipping name) disable no owner;
    // they are told from the splash by their Cancel button.
    bool question = !owner && GetDlgItem(hwnd, IDCANCEL) != nullptr;
    return messageBox || question || (owner && !IsWindowEnabled(owner));
}

void Handle(HWND box)
{
    std::string caption = WindowText(box);
    BoxAnswer answer;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_handled.insert(box).second) {
            PostMessageA(box, WM_COMMAND, IDOK, 0); // an unexpected box ignored IDCANCEL
            return;
        }
        for (auto it = g_expected.begin(); it != g_expected.end(); ++it)
            if (it->caption == caption) {
                answer = it->answer;
                g_expected.erase(it);
                break;
            }
        if (!answer) {
            ADD_FAILURE() << "unexpected box \"" << caption << "\": " << WindowText(GetDlgItem(box, 0xFFFF));
            PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
            return;
        }
    }
    answer(box);
}

BOOL CALLBACK Visit(HWND hwnd, LPARAM)
{
    if (IsBox(hwnd))
        Handle(hwnd);
    return TRUE;
}

DWORD WINAPI Watch(void *)
{
    for (;;) {
        EnumWindows(Visit, 0);
        Sleep(50);
        std::lock_guard<std::mutex> guard(g_lock);
        for (auto it = g_handled.begin(); it != g_handled.end();)
            it = IsWindow(*it) ? std::next(it) : g_handled.erase(it);
    }
}

} // namespace

void StartBoxWatcher()
{
    CloseHandle(CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr));
}

void ExpectBox(const std::string &caption, BoxAnswer answer)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_expected.push_back({caption, std::move(answer)});
}

int TakePendingBoxes()
{
    std::lock_guard<std::mutex> guard(g_lock);
    int n = (int)g_expected.size();
    g_expected.clear();
    return n;
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
    std::thread sender([dlg, command] { SendMessageA(dlg, WM_COMMAND, command, 0); });
    HWND box = nullptr;
    EXPECT_TRUE(WaitFor([&box, caption] {
        return (box = FindWindowA("#32770", caption)) && IsWindowVisible(box);
    })) << caption;
    EXPECT_FALSE(IsWindowEnabled(dlg)) << caption;
    std::string shown = WindowText(GetDlgItem(box, name ? IDC_CLIPNAME : 0xFFFF));
    if (name)
        SetDlgItemTextA(box, IDC_CLIPNAME, name);
    PostMessageA(box, WM_COMMAND, button, 0);
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
