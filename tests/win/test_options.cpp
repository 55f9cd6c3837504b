// The options dialog through the real dialog, the real settings store and
// the real run-at-log-on entry.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "app/options.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

using Values = std::vector<DWORD>;
const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The boxes; all but the first stand for the stored values of NAMES, all but
// the last two for the flags of FLAGS.
const int BOXES[] = {IDC_OPT_RUNATLOGON,  IDC_OPT_STARTTOTRAY, IDC_OPT_HIDESPLASH, IDC_OPT_NOVERCHECK,
                     IDC_OPT_KEEPUNICODE, IDC_OPT_AUTOCONVERT, IDC_OPT_QUICKEXIT};
const char *const NAMES[] = {"StartToTray", "HideSplash", "NoVerCheck", "KeepUnicode", "AutoConvert", "QuickExit"};
DWORD Globals::*const FLAGS[] = {&Globals::StartToTray, &Globals::HideSplash, &Globals::NoVerCheck,
                                 &Globals::KeepUnicode, &Globals::AutoConvert};

Values Stored()
{
    Values values;
    for (const char *name : NAMES)
        values.push_back(GetSettingsInt(nullptr, name, 0));
    return values;
}

void Store(const Values &values)
{
    for (size_t i = 0; i < values.size(); i++)
        WriteSettingsInt(nullptr, NAMES[i], values[i]);
}

Values Flags()
{
    Values values;
    for (DWORD Globals::*flag : FLAGS)
        values.push_back(gvGlobals.*flag);
    return values;
}

void SetFlags(const Values &values)
{
    for (size_t i = 0; i < values.size(); i++)
        gvGlobals.*FLAGS[i] = values[i];
}

std::string ModulePath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

// The run entry, or "<none>" when there is none.
std::string RunEntry()
{
    char buf[512];
    GetRegStringA(RUN_KEY, APP_NAME, "<none>", buf, sizeof buf);
    return buf;
}

// Empty: no entry.
void SetRunEntry(const std::string &value)
{
    WriteRegStringA(RUN_KEY, APP_NAME, value.empty() ? nullptr : value.c_str());
}

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = Flags();
        SetFlags({0, 0, 0, 0, 0});
        SetRunEntry("");
        m_owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        SetRunEntry("");
        SetFlags(m_saved);
        EXPECT_EQ(0, TakePendingBoxes());
    }

    // Runs the dialog: notes which boxes it shows checked, clicks `clicks`,
    // then `button` (0: the close command of the system menu).
    INT_PTR Run(const std::vector<int> &clicks, int button = IDOK)
    {
        m_shown.clear();
        ExpectBox("Quillet Options", [this, clicks, button](HWND box) {
            for (int id : BOXES)
                m_shown.push_back(IsDlgButtonChecked(box, id) == BST_CHECKED);
            for (int id : clicks)
                SendDlgItemMessageA(box, id, BM_CLICK, 0, 0);
            if (button)
                SendDlgItemMessageA(box, button, BM_CLICK, 0, 0);
            else
                SendMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        return OptionsDialog(m_owner);
    }

    HWND m_owner = nullptr;
    Values m_shown;
    Values m_saved;
};

} // namespace

TEST_F(OptionsTest, CheckboxesRoundTripToSettingsAndGlobals)
{
    SetFlags({1, 0, 0, 0, 1});
    Store({1, 0, 0, 0, 1, IDC_QUIT_TRAY}); // the exit dialog's "hide to the tray"
    ASSERT_EQ(IDOK, Run({IDC_OPT_STARTTOTRAY, IDC_OPT_HIDESPLASH, IDC_OPT_NOVERCHECK, IDC_OPT_KEEPUNICODE,
                         IDC_OPT_AUTOCONVERT}));
    EXPECT_EQ(Values({0, 1, 0, 0, 0, 1, 1}), m_shown);
    EXPECT_EQ(Values({0, 1, 1, 1, 0}), Flags());
    EXPECT_EQ(Values({0, 1, 1, 1, 0, 1}), Stored());
    EXPECT_EQ("<none>", RunEntry());

    // The next opening shows what was saved; clearing 690 stores 0.
    ASSERT_EQ(IDOK, Run({IDC_OPT_QUICKEXIT}));
    EXPECT_EQ(Values({0, 0, 1, 1, 1, 0, 1}), m_shown);
    EXPECT_EQ(Values({0, 1, 1, 1, 0}), Flags());
    EXPECT_EQ(Values({0, 1, 1, 1, 0, 0}), Stored());
}

// The entry is ours in any letter case, quoted or in the unquoted form of
// older versions; it is written quoted, and one of another copy is left alone
// unless the box is checked.
TEST_F(OptionsTest, RunEntryIsOursInAnyCaseAndWrittenQuoted)
{
    const std::string module = ModulePath(), quoted = "\"" + module + "\"";
    std::string lower = module, upper = quoted;
    CharLowerBuffA(&lower[0], DWORD(lower.size()));
    CharUpperBuffA(&upper[0], DWORD(upper.size()));
    const std::string elsewhere = "C:\\Other Place\\quillet.exe";
    const struct {
        std::string entry;
        std::vector<int> clicks;
        bool shown;
        std::string after;
    } cases[] = {
        {lower, {}, true, quoted},
        {upper, {IDC_OPT_RUNATLOGON}, true, "<none>"},
        {"", {}, false, "<none>"},
        {elsewhere, {}, false, elsewhere},
        {"\"" + elsewhere + "\"", {}, false, "\"" + elsewhere + "\""},
        {quoted + " /min", {}, false, quoted + " /min"},
        {"\"", {}, false, "\""},
        {elsewhere, {IDC_OPT_RUNATLOGON}, false, quoted},
        {quoted, {}, true, quoted},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry);
        SetRunEntry(c.entry);
        ASSERT_EQ(IDOK, Run(c.clicks));
        EXPECT_EQ(c.shown, m_shown[0] != 0);
        EXPECT_EQ(c.after, RunEntry());
    }
}

TEST_F(OptionsTest, CancelAndCloseChangeNothing)
{
    // OK with nothing changed on an empty store writes nothing at all.
    ASSERT_EQ(IDOK, Run({}));
    RegKey key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT, 0, KEY_READ, key.put()));

    const Values flags = {1, 0, 1, 0, 1}, stored = {1, 0, 1, 0, 1, 670};
    SetFlags(flags);
    Store(stored);
    std::string entry = ModulePath();
    CharUpperBuffA(&entry[0], DWORD(entry.size()));
    SetRunEntry(entry);
    const std::vector<int> all(std::begin(BOXES), std::end(BOXES));
    for (int button : {IDCANCEL, 0}) {
        EXPECT_EQ(IDCANCEL, Run(all, button));
        EXPECT_EQ(1u, m_shown[0]);
    }
    EXPECT_EQ(flags, Flags());
    EXPECT_EQ(stored, Stored());
    EXPECT_EQ(entry, RunEntry());
}
