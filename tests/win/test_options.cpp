// The options dialog through the real dialog, the real settings store and
// the real run-at-log-on entry.
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "app/options.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const int kBoxes[] = {IDC_OPT_RUNATLOGON,  IDC_OPT_STARTTOTRAY, IDC_OPT_HIDESPLASH, IDC_OPT_NOVERCHECK,
                      IDC_OPT_KEEPUNICODE, IDC_OPT_AUTOCONVERT, IDC_OPT_QUICKEXIT};

std::string ModulePath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

std::string Recased(std::string text, bool upper)
{
    DWORD len = static_cast<DWORD>(text.size());
    upper ? CharUpperBuffA(&text[0], len) : CharLowerBuffA(&text[0], len);
    return text;
}

void SetRunEntry(const std::string &value)
{
    ASSERT_EQ(1, WriteRegStringA(RUN_KEY, APP_NAME, value.c_str()));
}

void DeleteRunEntry()
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.get(), APP_NAME);
}

// The run entry, or "<none>" when there is none.
std::string RunEntry()
{
    char buf[512];
    GetRegStringA(RUN_KEY, APP_NAME, "<none>", buf, sizeof buf);
    return buf;
}

bool ProgramKeyExists()
{
    RegKey key;
    return RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

DWORD Stored(const char *name)
{
    return GetSettingsInt(nullptr, name, 0);
}

// StartToTray, AutoConvert, KeepUnicode, HideSplash, NoVerCheck.
using Flags = std::vector<DWORD>;
DWORD Globals::*const kFlags[] = {&Globals::StartToTray, &Globals::AutoConvert, &Globals::KeepUnicode,
                                  &Globals::HideSplash, &Globals::NoVerCheck};

Flags GlobalFlags()
{
    Flags flags;
    for (DWORD Globals::*flag : kFlags)
        flags.push_back(gvGlobals.*flag);
    return flags;
}

void SetGlobalFlags(const Flags &flags)
{
    for (size_t i = 0; i < flags.size(); i++)
        gvGlobals.*kFlags[i] = flags[i];
}

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = GlobalFlags();
        SetGlobalFlags({0, 0, 0, 0, 0});
        DeleteRunEntry();
        m_owner =
            CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, m_owner);
    }

    void TearDown() override
    {
        DestroyWindow(m_owner);
        DeleteRunEntry();
        SetGlobalFlags(m_saved);
        EXPECT_EQ(0, TakePendingBoxes());
    }

    // Runs the dialog: records which boxes it shows checked, clicks the
    // given boxes, then the closing button. Returns the dialog's result.
    INT_PTR Run(std::vector<int> clicks, int button)
    {
        m_shown.clear();
        ExpectBox("Quillet Options", [this, clicks, button](HWND box) {
            for (int id : kBoxes)
                m_shown[id] = IsDlgButtonChecked(box, id) == BST_CHECKED;
            for (int id : clicks)
                SendDlgItemMessageA(box, id, BM_CLICK, 0, 0);
            SendDlgItemMessageA(box, button, BM_CLICK, 0, 0);
        });
        return OptionsDialog(m_owner);
    }

    bool Shown(int id) { return m_shown.at(id); }

    HWND m_owner = nullptr;
    std::map<int, bool> m_shown;

private:
    Flags m_saved;
};

} // namespace

TEST_F(OptionsTest, CheckboxesRoundTripToSettingsAndGlobals)
{
    SetGlobalFlags({1, 1, 0, 0, 0});
    WriteSettingsInt(nullptr, "StartToTray", 1);
    WriteSettingsInt(nullptr, "AutoConvert", 1);
    // The exit dialog's "hide to the tray" choice.
    WriteSettingsInt(nullptr, "QuickExit", IDC_QUIT_TRAY);

    ASSERT_EQ(IDOK, Run({IDC_OPT_STARTTOTRAY, IDC_OPT_HIDESPLASH, IDC_OPT_NOVERCHECK, IDC_OPT_KEEPUNICODE,
                         IDC_OPT_AUTOCONVERT},
                        IDOK));
    EXPECT_FALSE(Shown(IDC_OPT_RUNATLOGON));
    EXPECT_TRUE(Shown(IDC_OPT_STARTTOTRAY));
    EXPECT_FALSE(Shown(IDC_OPT_HIDESPLASH));
    EXPECT_FALSE(Shown(IDC_OPT_NOVERCHECK));
    EXPECT_FALSE(Shown(IDC_OPT_KEEPUNICODE));
    EXPECT_TRUE(Shown(IDC_OPT_AUTOCONVERT));
    EXPECT_TRUE(Shown(IDC_OPT_QUICKEXIT));

    EXPECT_EQ(Flags({0, 0, 1, 1, 1}), GlobalFlags());
    EXPECT_EQ(0u, Stored("StartToTray"));
    EXPECT_EQ(0u, Stored("AutoConvert"));
    EXPECT_EQ(1u, Stored("KeepUnicode"));
    EXPECT_EQ(1u, Stored("HideSplash"));
    EXPECT_EQ(1u, Stored("NoVerCheck"));
    EXPECT_EQ(1u, Stored("QuickExit"));
    EXPECT_EQ("<none>", RunEntry());

    // The next opening shows what was saved; clearing 690 stores 0.
    ASSERT_EQ(IDOK, Run({IDC_OPT_QUICKEXIT}, IDOK));
    EXPECT_FALSE(Shown(IDC_OPT_STARTTOTRAY));
    EXPECT_TRUE(Shown(IDC_OPT_HIDESPLASH));
    EXPECT_TRUE(Shown(IDC_OPT_NOVERCHECK));
    EXPECT_TRUE(Shown(IDC_OPT_KEEPUNICODE));
    EXPECT_FALSE(Shown(IDC_OPT_AUTOCONVERT));
    EXPECT_TRUE(Shown(IDC_OPT_QUICKEXIT));
    EXPECT_EQ(Flags({0, 0, 1, 1, 1}), GlobalFlags());
    EXPECT_EQ(0u, Stored("QuickExit"));
    EXPECT_EQ(1u, Stored("KeepUnicode"));
}

TEST_F(OptionsTest, RunEntryIsOursInAnyCaseAndWrittenQuoted)
{
    const std::string module = ModulePath();
    const std::string quoted = Quoted(module);

    // The unquoted form of older versions, in other letter case: rewritten quoted.
    SetRunEntry(Recased(module, false));
    ASSERT_EQ(IDOK, Run({}, IDOK));
    EXPECT_TRUE(Shown(IDC_OPT_RUNATLOGON));
    EXPECT_EQ(quoted, RunEntry());

    // Quoted in other letter case; clearing the box removes the entry.
    SetRunEntry(Recased(quoted, true));
    ASSERT_EQ(IDOK, Run({IDC_OPT_RUNATLOGON}, IDOK));
    EXPECT_TRUE(Shown(IDC_OPT_RUNATLOGON));
    EXPECT_EQ("<none>", RunEntry());

    // No entry and the box left clear: still none.
    ASSERT_EQ(IDOK, Run({}, IDOK));
    EXPECT_FALSE(Shown(IDC_OPT_RUNATLOGON));
    EXPECT_EQ("<none>", RunEntry());

    // An entry of another copy is left alone unless the box is checked.
    const std::string elsewhere = "C:\\Other Place\\quillet.exe";
    for (const std::string &other : {elsewhere, Quoted(elsewhere), quoted + " /min", std::string("\"")}) {
        SCOPED_TRACE(other);
        SetRunEntry(other);
        ASSERT_EQ(IDOK, Run({}, IDOK));
        EXPECT_FALSE(Shown(IDC_OPT_RUNATLOGON));
        EXPECT_EQ(other, RunEntry());
    }
    SetRunEntry(elsewhere);
    ASSERT_EQ(IDOK, Run({IDC_OPT_RUNATLOGON}, IDOK));
    EXPECT_EQ(quoted, RunEntry());

    ASSERT_EQ(IDOK, Run({}, IDOK));
    EXPECT_TRUE(Shown(IDC_OPT_RUNATLOGON));
    EXPECT_EQ(quoted, RunEntry());
}

TEST_F(OptionsTest, CancelAndCloseChangeNothing)
{
    // OK with nothing changed on an empty store writes nothing at all.
    ASSERT_EQ(IDOK, Run({}, IDOK));
    EXPECT_FALSE(ProgramKeyExists());

    const Flags flags = {1, 0, 1, 0, 1};
    SetGlobalFlags(flags);
    WriteSettingsInt(nullptr, "StartToTray", 1);
    WriteSettingsInt(nullptr, "KeepUnicode", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    WriteSettingsInt(nullptr, "QuickExit", 670);
    const std::string entry = Recased(ModulePath(), true);
    SetRunEntry(entry);

    const std::vector<int> all(std::begin(kBoxes), std::end(kBoxes));
    EXPECT_EQ(IDCANCEL, Run(all, IDCANCEL));
    EXPECT_TRUE(Shown(IDC_OPT_RUNATLOGON));

    // The close command of the system menu.
    ExpectBox("Quillet Options", [all](HWND box) {
        for (int id : all)
            SendDlgItemMessageA(box, id, BM_CLICK, 0, 0);
        SendMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(IDCANCEL, OptionsDialog(m_owner));

    EXPECT_EQ(flags, GlobalFlags());
    EXPECT_EQ(1u, Stored("StartToTray"));
    EXPECT_EQ(0u, Stored("AutoConvert"));
    EXPECT_EQ(1u, Stored("KeepUnicode"));
    EXPECT_EQ(0u, Stored("HideSplash"));
    EXPECT_EQ(1u, Stored("NoVerCheck"));
    EXPECT_EQ(670u, Stored("QuickExit"));
    EXPECT_EQ(entry, RunEntry());
}
