// The HTTP client over real sockets and the update check, against a
// scripted loopback server and the real service; the reply reader's cases
// are the native tests'.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "cloud/account.h"
#include "importpatch.h"
#include "mainwindow.h"
#include "net/http.h"
#include "net/vercheck.h"
#include "resources/resource.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"

namespace {

const std::string OK = "HTTP/1.1 200 OK\r\n";

std::pair<uint32_t, std::string> Get()
{
    char body[64] = "";
    return {DoHttpGet("/p", "q=1", body, sizeof body), body};
}

// A send that takes at most 1000 bytes, as a send may.
int WINAPI SendSome(SOCKET s, const char *buf, int len, int flags)
{
    return RealFunction(&send, "ws2_32.dll", "send")(s, buf, std::min(len, 1000), flags);
}

// Notes the box's text (and owner), then clicks `id`.
BoxAnswer Note(std::string *text, int id, HWND *owner = nullptr)
{
    return [=](HWND box) {
        *text = WindowText(GetDlgItem(box, 0xFFFF));
        if (owner)
            *owner = GetWindow(box, GW_OWNER);
        ClickButton(id)(box);
    };
}

class UpdateMenu : public MainWindowTest {};

} // namespace

// Requests go out byte for byte, also when a send takes only part of one.
TEST(Http, RequestsAreSentByteForByte)
{
    ScriptedServer server(OK + "\r\nfine");
    // The scheme and a closing slash are no part of the Host header.
    WriteSettingsStringA(nullptr, "ServerHost", ("http://" + server.host + "/").c_str());
    std::string big(300000, 'f');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = char('a' + i % 23);
    EXPECT_EQ(std::make_pair(200u, std::string("fine")), Get());
    char body[8];
    {
        ImportPatch patch("ws2_32.dll", "send", reinterpret_cast<void *>(SendSome));
        ASSERT_TRUE(patch.ok()) << GetLastError();
        EXPECT_EQ(200u, DoHttpPost(SYNC_PATH, big.c_str(), body, sizeof body));
    }
    std::string host = "Host: " + server.host + "\r\n", post = "POST " SYNC_PATH " HTTP/1.1\r\n" + host;
    std::string type = "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n";
    EXPECT_EQ((std::vector<std::string>{"GET /p?q=1 HTTP/1.1\r\n" + host + "\r\n",
                                        post + "Content-Length: 300000" + type + big + "\r\n"}),
              server.Requests());
}

// A reply in separate receives is read whole; a server that says nothing,
// stalls or is not there ends the exchange in time.
TEST(Http, RepliesInPiecesSilenceAndMissingServers)
{
    {
        ScriptedServer pieces(OK + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\f\n3\r\nabc\r\n0\r\n\r\n");
        EXPECT_EQ(std::make_pair(200u, std::string("helloabc")), Get());
        ScriptedServer closes;
        EXPECT_EQ(std::make_pair(0u, std::string()), Get());
    }
    SetHttpTimeout(500);
    {
        ScriptedServer silent("", true);
        EXPECT_EQ(std::make_pair(0u, std::string()), Get());
        ScriptedServer stalls(OK + "\r\npartial", true);
        EXPECT_EQ(std::make_pair(200u, std::string("partial")), Get());
    }
    SetHttpTimeout(30000);
    for (const char *host : {"127.0.0.1:1", "127.0.0.1:http", "no-such-host.invalid"}) {
        WriteSettingsStringA(nullptr, "ServerHost", host);
        EXPECT_EQ(0u, Get().first) << host;
    }
}

// Over TLS, a certificate the system does not trust is refused until its
// fingerprint is the trusted one, and refused as changed while another is;
// a server that speaks no TLS fails the handshake.
TEST(Tls, ACertificateIsTrustedByTheSystemOrByItsFingerprint)
{
    const char *service = getenv("QUILLET_TEST_TLS_SERVICE");
    const char *fingerprint = getenv("QUILLET_TEST_TLS_FINGERPRINT");
    if (!service || !fingerprint)
        GTEST_SKIP() << "no TLS service";
    std::string lower = fingerprint;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    const std::string other(fingerprint[0] == '0' ? "1" : "0", 1);
    const struct {
        std::string trusted;
        TlsProblem problem;
    } ROWS[] = {
        {"", TLS_UNKNOWN_CERT},
        {other + (fingerprint + 1), TLS_CHANGED_CERT},
        {fingerprint, TLS_OK},
        {lower, TLS_OK},
    };
    WriteSettingsStringA(nullptr, "ServerHost", (std::string("https://") + service).c_str());
    for (const auto &row : ROWS) {
        SCOPED_TRACE(row.trusted);
        WriteSettingsStringA(nullptr, "ServerFingerprint", row.trusted.c_str());
        char seen[FINGERPRINT_SIZE] = "";
        EXPECT_EQ(row.problem, CheckServerCertificate(seen));
        EXPECT_STREQ(fingerprint, seen);
        EXPECT_EQ(row.problem == TLS_OK, Get().first != 0);
        EXPECT_EQ(row.problem, LastTlsProblem(seen));
    }
    // The account's commands offer an unknown certificate for trust, and a
    // changed one is refused unless the user trusts it now.
    WriteSettingsStringA(nullptr, "AccountName", "tls");
    WriteSettingsStringA(nullptr, "AccountKey", "ab-cd-12-xy");
    const struct {
        std::string before;
        int answer;
        const char *shown; // a word of the box
        std::string after;
    } OFFERS[] = {
        {"", IDNO, "does not trust", "<none>"},
        {"", IDYES, "does not trust", fingerprint},
        {ROWS[1].trusted, IDNO, "not the one you trusted", ROWS[1].trusted},
        {fingerprint, 0, nullptr, fingerprint},
    };
    for (const auto &offer : OFFERS) {
        WriteSettingsStringA(nullptr, "ServerFingerprint",
                             offer.before.empty() ? nullptr : offer.before.c_str());
        std::string text;
        if (offer.answer)
            ExpectBox("Quillet", Note(&text, offer.answer));
        EXPECT_EQ(offer.answer != IDNO, EnsureCloudAccount(nullptr) != FALSE) << offer.before;
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_TRUE(!offer.shown || (text.find(offer.shown) != std::string::npos &&
                                     text.find(fingerprint) != std::string::npos))
            << text;
        EXPECT_EQ(offer.after, StoredSetting(nullptr, "ServerFingerprint"));
    }

    // It waits for a request's end that a handshake never sends.
    SetHttpTimeout(1000);
    ScriptedServer plain(OK + "\r\nfine");
    WriteSettingsStringA(nullptr, "ServerHost", ("https://" + plain.host).c_str());
    EXPECT_EQ(0u, Get().first);
    char seen[FINGERPRINT_SIZE];
    EXPECT_EQ(TLS_FAILED, LastTlsProblem(seen));
}

// Older releases and builds too; a key the reply lacks reads as -1 and a
// long date is not cut; failures show nothing; the start-up thread shows its
// own box.
TEST(VersionCheck, AnyOtherReleaseIsOfferedAndFailuresShowNothing)
{
    const std::string date(600, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"Vmajor=5\r\nVminor=9\r\nVbuild=300\r\n", "5.9 Build 300 was released "},
        {"Vmajor=6\r\nVminor=0\r\nVbuild=199\r\n", "6.0 Build 199 was released "},
        {"RelDate=" + date + "\r\nVmajor=7\r\n", "7.4294967295 Build 4294967295 was released " + date},
    };
    int interactive = 0;
    for (const auto &c : cases) {
        ScriptedServer server(OK + "\r\n" + c.first);
        std::string text;
        ExpectBox("Update Available", Note(&text, IDNO));
        EXPECT_EQ(1, GetCurrentVersionInfo(GetDesktopWindow(), interactive ^= 1));
        EXPECT_EQ("A new version of Quillet is available: Version " + c.second +
                      ".\n\nYou are currently running Version 6.0 Build 200.\n\nWould you like to learn more "
                      "about this new version now?",
                  text);
    }
    ScriptedServer notFound("HTTP/1.1 404 Not Found\r\n\r\nVmajor=7\r\n");
    EXPECT_EQ(1, GetCurrentVersionInfo(GetDesktopWindow(), 1));
    WriteSettingsStringA(nullptr, "ServerHost", "127.0.0.1:1");
    EXPECT_EQ(1, GetCurrentVersionInfo(GetDesktopWindow(), 1));

    ScriptedServer newer(OK + "\r\nVmajor=6\r\nVminor=1\r\nVbuild=1\r\n");
    std::string text;
    ExpectBox("Update Available", Note(&text, IDNO));
    ASSERT_NE(nullptr, LaunchVersionCheck(GetDesktopWindow()));
    TerminateVersionCheck();
    EXPECT_NE(std::string::npos, text.find("Version 6.1 Build 1 was released ."));
}

TEST_F(UpdateMenu, CurrentReleaseIsConfirmedOnlyWhenAsked)
{
    ScriptedServer server(OK + "\r\nRelDate=12 Feb 2018\r\nVmajor=6\r\nVminor=0\r\nVbuild=200\r\n");
    EXPECT_EQ(0, GetCurrentVersionInfo(GetDesktopWindow(), 0));
    std::string text;
    HWND owner = nullptr;
    ExpectBox("Quillet is up-to-date", Note(&text, IDOK, &owner));
    Command(IDM_UPDATECHECK);
    EXPECT_EQ("You are currently running Version 6.0 Build 200, the current version of Quillet.", text);
    EXPECT_EQ(Main(), owner);
    EXPECT_EQ(std::vector<std::string>(2, "GET " VCHK_PATH "?app=Quillet HTTP/1.1\r\nHost: " + server.host +
                                              "\r\n\r\n"),
              server.Requests());
}

TEST_F(RealService, UpdateCheckFindsTheCurrentRelease)
{
    EXPECT_EQ(0, GetCurrentVersionInfo(nullptr, 0));
}
