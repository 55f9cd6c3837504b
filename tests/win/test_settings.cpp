// The settings store against the real registry, and the options dialog
// through the real dialog, settings and run-at-log-on entry.
#include <cstring>
#include "boxwatch.h"
#include "testutil.h"
#include "app/options.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

using Values = std::vector<DWORD>;
const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Each box with its stored value and flag; the run entry comes first.
const int BOXES[] = {IDC_OPT_RUNATLOGON,  IDC_OPT_STARTTOTRAY, IDC_OPT_HIDESPLASH, IDC_OPT_NOVERCHECK,
                     IDC_OPT_KEEPUNICODE, IDC_OPT_AUTOCONVERT, IDC_OPT_QUICKEXIT};
const char *const NAMES[] = {"StartToTray", "HideSplash",  "NoVerCheck",
                             "KeepUnicode", "AutoConvert", "QuickExit"};
DWORD Globals::*const FLAGS[] = {&Globals::StartToTray, &Globals::HideSplash, &Globals::NoVerCheck,
                                 &Globals::KeepUnicode, &Globals::AutoConvert};

// The stored values, then the flags.
Values State()
{
    Values values;
    for (const char *name : NAMES)
        values.push_back(GetSettingsInt(nullptr, name, 0));
    for (DWORD Globals::*flag : FLAGS)
        values.push_back(gvGlobals.*flag);
    return values;
}

std::string RunEntry()
{
    char buf[512];
    GetRegStringA(RUN_KEY, APP_NAME, "<none>", buf, sizeof buf);
    return buf;
}

// An entry left behind would start the test program with the prefix.
class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { WriteRegStringA(RUN_KEY, APP_NAME, nullptr); }
    void TearDown() override
    {
        SetUp();
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
        return OptionsDialog(nullptr);
    }

    Values m_shown;
};

} // namespace

// Reads never create keys; the whole DWORD range, empty strings, UTF-8 names
// and characters beyond the BMP survive; writing null deletes. A value that
// does not fit gives the default, and one stored without its terminator is
// read within its size; nothing is written past the buffer.
TEST(Registry, TypedValuesDefaultsBuffersAndSectionNames)
{
    char buf[16];
    wchar_t wbuf[32];
    RegKey key;
    EXPECT_EQ(4, GetSettingsStringA("Opts", "Missing", "dflt", buf, sizeof buf));
    EXPECT_STREQ("dflt", buf);
    EXPECT_EQ(7u, GetSettingsInt("Opts", "Missing", 7));
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT "\\Opts", 0, KEY_READ, key.put()));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(0u, GetSettingsSectionNames(buf, sizeof buf));
    EXPECT_EQ(std::string("\0\0x", 3), std::string(buf, 3));

    ASSERT_EQ(1, WriteSettingsInt(nullptr, "Num", 0xFFFFFFFEu));
    ASSERT_EQ(1, WriteSettingsStringA("Opts", "Empty", ""));
    EXPECT_EQ(0xFFFFFFFEu, GetSettingsInt("", "Num", 0));
    EXPECT_EQ(1, GetSettingsStringA("Opts", "Empty", "x", buf, sizeof buf));
    const wchar_t text[] = L"Gr\u00fc\u00dfe \u20ac \U0001D11E";
    ASSERT_EQ(1, WriteSettingsStringW("S", "N\xC3\xA4me", text));
    EXPECT_EQ((int)sizeof text, GetSettingsStringW("S", "N\xC3\xA4me", "", wbuf, sizeof wbuf));
    EXPECT_STREQ(text, wbuf);
    WriteSettingsStringW("S", "Wide", text);
    EXPECT_EQ(1, WriteSettingsStringW("S", "Wide", nullptr));
    EXPECT_EQ(0u, GetSettingsStringSize("S", "Wide"));

    WriteSettingsStringA(nullptr, "Name", "abcdefgh");
    WriteSettingsStringW(nullptr, "Wide", L"abcdefgh");
    EXPECT_EQ(9, GetSettingsStringA(nullptr, "Name", "dflt", buf, 9));
    EXPECT_EQ(4, GetSettingsStringA(nullptr, "Name", "dflt", buf, 8));
    EXPECT_EQ(7, GetSettingsStringA(nullptr, "Name", "default-too-long", buf, 8));
    EXPECT_STREQ("default", buf);
    EXPECT_EQ(4, GetSettingsStringW(nullptr, "Wide", "dflt", wbuf, 16));
    EXPECT_STREQ(L"dflt", wbuf);
    ASSERT_EQ(ERROR_SUCCESS, StoreRaw(nullptr, "Bare", REG_SZ, "abcd", 3));
    EXPECT_EQ(1, GetSettingsStringA(nullptr, "Bare", "d", buf, 3));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(3, GetSettingsStringA(nullptr, "Bare", "d", buf, 4));
    EXPECT_STREQ("abc", buf);

    ResetProgramState();
    WriteSettingsInt("Clip B", "State", 1);
    WriteSettingsInt("Clip A", "State", 1);
    EXPECT_EQ(14u, GetSettingsSectionNames(buf, sizeof buf));
    EXPECT_EQ(std::string("Clip A\0Clip B\0\0", 15), std::string(buf, 15));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(7u, GetSettingsSectionNames(buf, 9));
    EXPECT_EQ(std::string("Clip A\0\0\0x", 10), std::string(buf, 10));
    EXPECT_EQ(0u, GetSettingsSectionNames(buf, 8));
}

TEST_F(OptionsTest, CheckboxesRoundTripAndCancelChangesNothing)
{
    // OK with nothing changed on an empty store writes nothing at all.
    ASSERT_EQ(IDOK, Run({}));
    RegKey key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT, 0, KEY_READ, key.put()));

    gvGlobals.StartToTray = gvGlobals.AutoConvert = 1;
    WriteSettingsInt(nullptr, "QuickExit", IDC_QUIT_TRAY); // the exit dialog's "hide to the tray"
    ASSERT_EQ(IDOK, Run({IDC_OPT_STARTTOTRAY, IDC_OPT_HIDESPLASH, IDC_OPT_NOVERCHECK, IDC_OPT_KEEPUNICODE,
                         IDC_OPT_AUTOCONVERT}));
    EXPECT_EQ(Values({0, 1, 0, 0, 0, 1, 1}), m_shown);
    EXPECT_EQ(Values({0, 1, 1, 1, 0, 1, 0, 1, 1, 1, 0}), State());
    EXPECT_EQ("<none>", RunEntry());
    ASSERT_EQ(IDOK, Run({IDC_OPT_QUICKEXIT}));
    EXPECT_EQ(Values({0, 0, 1, 1, 1, 0, 1}), m_shown);
    EXPECT_EQ(Values({0, 1, 1, 1, 0, 0, 0, 1, 1, 1, 0}), State());

    const Values before = State();
    for (int button : {IDCANCEL, 0})
        EXPECT_EQ(IDCANCEL, Run(std::vector<int>(std::begin(BOXES), std::end(BOXES)), button));
    EXPECT_EQ(before, State());
    EXPECT_EQ("<none>", RunEntry());
}

// The entry is ours in any letter case, quoted or in the unquoted form of
// older versions; it is written quoted, and one of another copy is left alone
// unless the box is checked.
TEST_F(OptionsTest, RunEntryIsOursInAnyCaseAndWrittenQuoted)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string quoted = "\"" + std::string(path) + "\"", elsewhere = "C:\\Other Place\\quillet.exe";
    std::string lower = path, upper = quoted;
    CharLowerBuffA(&lower[0], DWORD(lower.size()));
    CharUpperBuffA(&upper[0], DWORD(upper.size()));
    const struct {
        std::string entry;
        std::vector<int> clicks;
        bool shown;
        std::string after;
    } cases[] = {
        {lower, {}, true, quoted},
        {upper, {IDC_OPT_RUNATLOGON}, true, "<none>"},
        {"\"", {}, false, "\""},
        {elsewhere, {IDC_OPT_RUNATLOGON}, false, quoted},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry);
        WriteRegStringA(RUN_KEY, APP_NAME, c.entry.c_str());
        ASSERT_EQ(IDOK, Run(c.clicks));
        EXPECT_EQ(c.shown, m_shown[0] != 0);
        EXPECT_EQ(c.after, RunEntry());
    }
}
