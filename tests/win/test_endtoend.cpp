// quillet.exe started as a process of its own, as a user would.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "quilletprocess.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"

// The splash comes before the main window. The start asks for updates once,
// unless told not to, and comes up whether the server stays silent or refuses.
TEST(EndToEnd, SplashFirstAndAStartWhateverTheUpdateServer)
{
    ScriptedServer silent("", true);
    for (int noCheck : {1, 0, 0}) {
        WriteSettingsInt(nullptr, "NoVerCheck", noCheck);
        QuilletProcess quillet;
        ASSERT_TRUE(quillet.Started()) << GetLastError();
        if (noCheck) {
            EXPECT_TRUE(WaitFor([] { return FindWindowA("#32770", "Quillet") != nullptr; }, 15000));
            EXPECT_EQ(nullptr, FindWindowA(nullptr, "Quillet 6.0.200"));
        }
        EXPECT_NE(nullptr, quillet.Window()) << noCheck;
        WriteSettingsInt(nullptr, "HideSplash", 1);
        WriteSettingsStringA(nullptr, "ServerHost", noCheck ? silent.host.c_str() : RefusingHost().c_str());
    }
    EXPECT_EQ(1u, silent.Requests().size());
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Update Available"));
}
