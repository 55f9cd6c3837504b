// The program against the real sync service (server/), which scripts/test.sh
// starts and names in QUILLET_TEST_SERVICE; skipped without it.
#include "boxwatch.h"
#include "testutil.h"
#include "clippings/store.h"
#include "cloud/sync.h"
#include "net/vercheck.h"
#include "settings/registry.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>

namespace {

class RealService : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *host = getenv("QUILLET_TEST_SERVICE");
        if (!host || !*host)
            GTEST_SKIP() << "no service named in QUILLET_TEST_SERVICE";
        WriteSettingsStringA(nullptr, "ServerHost", host);
    }
};

std::string SyncSummary()
{
    std::string text;
    ExpectBox("Synchronize Clippings", NoteText(&text));
    EXPECT_EQ(1, SyncClips(nullptr));
    return text.substr(text.find('\n') + 1);
}

// The section of the stored clipping of that name.
std::string SectionOf(const char *name)
{
    m_NumClippings = LoadClippingNames(m_Clippings, MAX_CLIPPINGS, m_ClipSort);
    char section[16] = "none";
    for (uint32_t i = 0; i < m_NumClippings; i++)
        if (strcmp(m_Clippings[i].name, name) == 0)
            FmtRegApp(section, sizeof section, m_Clippings[i].slot);
    return section;
}

std::wstring StoredText(const char *name)
{
    wchar_t text[256];
    GetSettingsStringW(SectionOf(name).c_str(), "UTF", "", text, sizeof text);
    return text;
}

} // namespace

// Clippings go up from one PC and come down on another (a fresh store with
// the same account), whole: line breaks, '$', '&', '=', '+' and accents.
TEST_F(RealService, ClippingsTravelBetweenTwoStores)
{
    const std::string account = "interop" + std::to_string(GetTickCount());
    WriteSettingsStringA(nullptr, "AccountName", account.c_str());
    WriteSettingsStringA(nullptr, "AccountKey", "Key4Interop2026xyz");
    const wchar_t *odd = L"Total: $5 & more = 10+\r\nGr\u00fc\u00dfe \u20ac\r\n$RN";
    StoreClipping("Odd", FALSE, odd, "{\\rtf1 Odd $}", "<b>Odd</b>");
    StoreClipping("Plain", FALSE, L"plain text", nullptr, nullptr);
    EXPECT_EQ("   2 Clips uploaded\n   0 Clips downloaded\n   0 Clips deleted\n   0 Clips unchanged.",
              SyncSummary());

    // The other PC: same account, nothing stored yet.
    ResetProgramState();
    SetUp();
    WriteSettingsStringA(nullptr, "AccountName", account.c_str());
    WriteSettingsStringA(nullptr, "AccountKey", "Key4Interop2026xyz");
    EXPECT_EQ("   0 Clips uploaded\n   2 Clips downloaded\n   0 Clips deleted\n   0 Clips unchanged.",
              SyncSummary());
    EXPECT_EQ(odd, StoredText("Odd"));
    EXPECT_EQ(L"plain text", StoredText("Plain"));
    char rtf[64];
    GetSettingsStringA(SectionOf("Odd").c_str(), "RTF", "", rtf, sizeof rtf);
    EXPECT_STREQ("{\\rtf1 Odd $}", rtf);
}

TEST_F(RealService, UpdateCheckFindsTheCurrentRelease)
{
    EXPECT_EQ(0, GetCurrentVersionInfo(nullptr, 0));
}
