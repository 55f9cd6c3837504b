// The cloud clippings: requests and transfer against a scripted server; the
// synchronisation against the real service and scripted failures; the account dialog.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <atomic>
#include <map>
#include <thread>
#include "boxwatch.h"
#include "clippings/store.h"
#include "cloud/account.h"
#include "cloud/sync.h"
#include "cloud/syncproto.h"
#include "cloud/transfer.h"
#include "net/http.h"
#include "resources/resource.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"
#include "../formdecode.h"

namespace {

const std::string OK = "HTTP/1.1 200 OK\r\n\r\n";
const std::string FIRST = "Quillet=6.0.200&";

// The form of a recorded request: the query of a GET, the body of a POST.
std::string FormOf(const std::string &request)
{
    if (request.compare(0, 4, "GET ") == 0)
        return request.substr(request.find('?') + 1, request.find(" HTTP/1.1") - request.find('?') - 1);
    size_t body = request.find("\r\n\r\n") + 4;
    return request.substr(body, request.size() - body - 2);
}

// A value of a request's form, decoded.
std::string Field(const std::string &request, const std::string &key)
{
    const std::string form = "&" + FormOf(request);
    const size_t at = form.find("&" + key + "="), start = at + key.size() + 2;
    return at == std::string::npos ? "" : FormDecoded(form.substr(start, form.find('&', start) - start));
}

// A sound service holding the clips of `list` (without its end tag), whose
// parts are three letters long; the act named `failing` answers status 500.
std::string Service(const std::string &request, const std::string &list, const std::string &failing = "")
{
    const std::string act = ActOf(request);
    return act == failing    ? "HTTP/1.1 500 Oops\r\n\r\n"
           : act == "knock"  ? OK + "<UserID>5</UserID>"
           : act == "list"   ? OK + list + "</Clips>\r\n"
           : act == "create" ? OK + "DataID=9\r\n"
           : act == "check"  ? OK + "<Check>\r\nlenUTF=3\r\nlenRTF=0\r\nlenHTML=0\r\n</Check>\r\n"
                             : OK + "<Data>\r\nClipUTF=abc\r\n</Data>\r\n";
}

// Keeps the parts that setdata sends and answers create, check and getdata.
struct Cloud {
    std::map<std::string, std::string> parts;
    std::string failField, lenRTF;
    std::string Answer(const std::string &request)
    {
        const std::string act = ActOf(request), field = Field(request, "field");
        if (act == "create")
            return OK + "DataID=31\r\n";
        if (act == "check")
            return OK + "<Check>\r\nlenUTF=" + Len("ClipUTF") +
                   "\r\nlenRTF=" + (lenRTF.empty() ? Len("ClipRTF") : lenRTF) +
                   "\r\nlenHTML=" + Len("ClipHTML") + "\r\n</Check>";
        if (act == "setdata")
            parts[field] = Field(request, "data");
        if (act == "setdata" || field == failField)
            return act == "setdata" ? OK : "HTTP/1.1 500 Oops\r\n\r\n";
        return OK + "<Data>\r\n" + field + "=" + parts[field] + "\r\n</Data>\r\n";
    }
    std::string Len(const char *field) { return std::to_string(parts[field].size()); }
};

// The account "ann" of the scripted services.
void SetAccount()
{
    WriteSettingsStringA(nullptr, "AccountName", "ann");
    WriteSettingsStringA(nullptr, "AccountKey", "Key4Tests2026xyz");
}

using Texts = std::vector<std::string>;

// The progress texts with their bar positions ("text@percent"), as the
// dialog on this thread is told them.
Texts m_progress;

LRESULT CALLBACK RecordProgress(int code, WPARAM wParam, LPARAM lParam)
{
    auto *sent = reinterpret_cast<CWPSTRUCT *>(lParam);
    if (sent->message == WM_SETTEXT && GetDlgCtrlID(sent->hwnd) == IDC_SP_TEXT)
        m_progress.push_back(reinterpret_cast<const char *>(sent->lParam));
    else if (sent->message == PBM_SETPOS && GetDlgCtrlID(sent->hwnd) == IDC_SP_BAR && !m_progress.empty())
        m_progress.back() += "@" + std::to_string(sent->wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs a synchronisation here (that must end with `result`, unless -1); the
// text of the box it ends with.
std::string Sync(int result = 1, const char *caption = "Synchronize Clippings")
{
    m_progress.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordProgress, nullptr, GetCurrentThreadId());
    std::string text;
    ExpectBox(caption, NoteText(&text));
    const int ended = SyncClips(nullptr);
    EXPECT_TRUE(result == -1 || ended == result) << ended;
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(0, TakePendingBoxes());
    return text;
}

std::string Summary(unsigned up, unsigned down, unsigned deleted, unsigned same, const char *more = "")
{
    char text[512];
    snprintf(text, sizeof text,
             "Synchronization Completed at %s\n%4u Clips uploaded\n%4u Clips downloaded\n%4u Clips deleted\n"
             "%4u Clips unchanged.%s",
             StoredSetting(nullptr, "LastSync").c_str(), up, down, deleted, same, more);
    return text;
}

// A window that starts a run when asked with WM_APP; 10 + the run's result.
LRESULT CALLBACK SyncOnRequest(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return msg == WM_APP ? SyncClips(hwnd) + 10 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

// The forms on the wire: account fields escaped, ids cut to seven digits, an
// upload's parts whole, and an update clearing the variants the clip lost.
TEST(SyncProto, RequestsAsSent)
{
    const std::string reply = "<UserID>4711</UserID><Rename>1</Rename>\r\nDataID=77\r\n";
    ScriptedServer server({OK + reply});
    EXPECT_EQ(-1, SyncGetUserID());
    WriteSettingsStringA(nullptr, "AccountName", "Ann Lee&Co=1");
    WriteSettingsStringA(nullptr, "AccountKey", "$ecret\xC3\xA9");
    EXPECT_EQ(4711, SyncGetUserID());
    EXPECT_EQ(4711, SyncRegisterUser());
    char list[64];
    EXPECT_EQ(static_cast<int>(reply.size()), SyncGetClipList(123456789, list, sizeof list));
    SyncFailure failure;
    EXPECT_EQ(1, SyncRenameClip(1, -12345678, "a b", &failure));
    EXPECT_EQ(-1, SyncDeleteClip(1, 2, &failure));
    EXPECT_STREQ("", failure.text);
    uint32_t utf, rtf, html;
    EXPECT_EQ(0, SyncGetClipSize(1, 2, &utf, &rtf, &html));
    UploadResult result;
    EXPECT_EQ(1, SyncUploadClip(5, -1, "My clip", "a b\r\n$ \xC3\xA9\n", "{\\rtf}", nullptr, &result));
    EXPECT_EQ(77, result.created);
    EXPECT_EQ(1, SyncUploadClip(5, 9, "My clip", "t", nullptr, "", &result));
    const std::string account = "&name=Ann+Lee%26Co%3D1&key=%24ecret%C3%A9";
    const std::string data = FIRST + "act=setdata&UserID=5&DataID=";
    std::vector<std::string> forms;
    for (const std::string &request : server.Requests())
        forms.push_back(FormOf(request));
    EXPECT_EQ(
        std::vector<std::string>(
            {FIRST + "act=knock" + account, FIRST + "act=open" + account, FIRST + "act=list&UserID=1234567",
             FIRST + "UserID=1&DataID=-123456&act=rename&ClipName=a+b",
             FIRST + "UserID=1&DataID=2&act=delete", FIRST + "act=check&UserID=1&DataID=2",
             FIRST + "act=create&UserID=5&ClipName=My+clip",
             data + "77&field=ClipUTF&data=a+b%24RN%24%24%24+%C3%A9%0A",
             data + "77&field=ClipRTF&data=%7B%5Crtf%7D", data + "9&field=ClipUTF&data=t",
             data + "9&field=ClipRTF&data=", data + "9&field=ClipHTML&data="}),
        forms);
    EXPECT_EQ(0u, server.Requests()[1].find("POST "));
}

// A create without an id sends no part; a failed request gives the first
// line of the reply, for a box or, for an upload, for the summary.
TEST(SyncProto, FailuresAreShown)
{
    ScriptedServer server({OK + "no id here"});
    UploadResult result;
    EXPECT_EQ(0, SyncUploadClip(5, -1, "n", "t", nullptr, nullptr, &result));
    EXPECT_STREQ("Failed to get the DataID!", result.why);
    EXPECT_EQ(1u, server.Requests().size());

    ScriptedServer failing({"HTTP/1.1 500 Oops\r\n\r\nno such clip\r\n<Delete>0</Delete>"});
    SyncFailure failure;
    EXPECT_EQ(0, SyncDeleteClip(1, 2, &failure));
    EXPECT_STREQ("Synchronization error: The server replied 'no such clip'", failure.text);
}

// A busy service is "try again", never taken for an unknown account; a
// name the service holds with another key is said as such.
TEST(SyncProto, SignInTellsBusyFromTakenFromRefused)
{
    SetAccount();
    const struct {
        const char *knock, *open;
        size_t requests;
        const char *caption, *said;
    } cases[] = {
        {"503 busy", "200 OK", 1, "Synchronize Clippings", "The sync service is busy"},
        {"429 wait", "200 OK", 1, "Synchronize Clippings", "The sync service is busy"},
        {"403 wrong", "409 taken", 2, "Synchronize Clippings",
         "holds an account of this name with another key"},
        {"403 wrong", "503 busy", 2, "Synchronize Clippings", "The sync service is busy"},
        {"403 wrong", "400 bad", 2, "Error", "It is not possible to create"},
    };
    for (const auto &c : cases) {
        ScriptedServer server([&c](const std::string &request) {
            const bool knock = request.find("act=knock") != std::string::npos;
            return "HTTP/1.1 " + std::string(knock ? c.knock : c.open) + "\r\n\r\n<UserID>7</UserID>";
        });
        std::string text;
        ExpectBox(c.caption, NoteText(&text));
        EXPECT_EQ(0, SyncClips(nullptr)) << c.knock << c.open;
        EXPECT_EQ(0, TakePendingBoxes()) << c.knock << c.open;
        EXPECT_NE(std::string::npos, text.find(c.said)) << text;
        EXPECT_EQ(c.requests, server.Requests().size()) << c.knock << c.open;
    }
}

// The token of a sign-in goes with every request that names its account,
// and only with those; a service without tokens gets none.
TEST(SyncProto, TheSignInsTokenGoesWithItsAccountsRequests)
{
    SetAccount();
    const std::string token = "00112233445566778899aabbccddeeff";
    for (const std::string &given : {token, std::string("zz<")}) {
        ScriptedServer server([&given](const std::string &request) {
            return OK + (request.find("act=knock") != std::string::npos
                             ? "<UserID>7</UserID><Token>" + given + "</Token>"
                             : std::string("<Clips />"));
        });
        char body[64];
        EXPECT_EQ(7, SyncGetUserID());
        SyncGetClipList(7, body, sizeof body);
        SyncGetClipList(8, body, sizeof body);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(3u, requests.size());
        const bool sent = given == token;
        EXPECT_EQ(sent, FormOf(requests[1]).find("&Token=" + token) != std::string::npos) << given;
        EXPECT_EQ(std::string::npos, FormOf(requests[2]).find("Token")) << given;
    }
}

// Text travels scrambled; a download with a part missing replaces nothing.
TEST(Transfer, RoundTripThroughStoreAndClipboard)
{
    WriteSettingsStringA(nullptr, "AccountKey", "Key 123");
    uint8_t key[ROL_KEY_MAX];
    uint32_t keyLen = PrepareROLString(key, sizeof key);
    ASSERT_EQ(6u, keyLen);
    const std::wstring text = L"Hello, W\x00f6rld\r\n$5";
    StoreClipping("Greeting", FALSE, text.c_str(), "{\\rtf1 Hi}", nullptr);
    Cloud cloud;
    ScriptedServer server([&cloud](const std::string &request) { return cloud.Answer(request); });
    UploadResult result;
    EXPECT_EQ(1, PostClipToCloud(5, -1, 0, key, keyLen, &result));
    EXPECT_EQ("Rijmq, A\xC3\xB6ton$RN$$$7", cloud.parts["ClipUTF"]);

    StoreClipping("Greeting", TRUE, L"changed", nullptr, "<b>old</b>");
    cloud.failField = "ClipRTF";
    EXPECT_EQ(CLIP_DATA_FAILED, GetClipFromCloud(5, 31, "Greeting", key, keyLen, nullptr));
    EXPECT_EQ(L"changed", StoredWideSetting("Clip A", "UTF"));
    cloud.failField = "";
    EXPECT_EQ(1, GetClipFromCloud(5, 31, "Greeting", key, keyLen, nullptr));
    EXPECT_EQ(text + L"|{\\rtf1 Hi}|<none>", StoredWideSetting("Clip A", "UTF") + L"|" +
                                                 StoredWideSetting("Clip A", "RTF") + L"|" +
                                                 StoredWideSetting("Clip A", "HTML"));

    // Blocks are sized from what arrived, not from what was announced.
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    cloud.lenRTF = "2";
    EXPECT_EQ(1, GetClipFromCloud(5, 31, "Greeting", key, keyLen, window));
    std::string placed = ClipboardData(CF_UNICODETEXT) + std::string(2, '\0');
    EXPECT_EQ(text, reinterpret_cast<const wchar_t *>(placed.c_str()));
    EXPECT_STREQ("{\\rtf1 Hi}", ClipboardData(RegisterClipboardFormatA("Rich Text Format")).c_str());
    DestroyWindow(window);

    for (char letter = 'B'; letter <= 'J'; letter++)
        SeedClipping(letter, std::string(1, letter).c_str());
    EXPECT_EQ(CLIP_DATA_FAILED, GetClipFromCloud(5, 31, "Greeting", key, keyLen, nullptr));
}

namespace {

// Two PCs of one account: each keeps its own copy of the program's key,
// put in place while it is the one in use.
class TwoPcs {
public:
    TwoPcs()
    {
        for (int pc = 0; pc < 2; pc++)
            Copy(SETTINGS_ROOT, Saved(pc));
    }
    ~TwoPcs()
    {
        for (int pc = 0; pc < 2; pc++)
            RegDeleteTreeA(HKEY_CURRENT_USER, Saved(pc).c_str());
    }
    void Use(int pc)
    {
        Copy(SETTINGS_ROOT, Saved(m_current));
        RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_ROOT);
        Copy(Saved(pc), SETTINGS_ROOT);
        m_current = pc;
    }

private:
    static std::string Saved(int pc) { return SETTINGS_ROOT "PC" + std::to_string(pc); }
    static void Copy(const std::string &from, const std::string &to)
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, to.c_str());
        RegKey src, dst;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, src.put()));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, dst.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegCopyTreeA(src.get(), nullptr, dst.get()));
    }
    int m_current = 0;
};

// "name=text" of each local clipping, in name order.
Texts LocalClippings()
{
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    Texts local;
    for (uint32_t k = 0, n = LoadClippingNames(table, MAX_CLIPPINGS, order); k < n; k++) {
        char section[16];
        FmtRegApp(section, sizeof section, table[order[k]].slot);
        const std::wstring text = StoredWideSetting(section, "UTF");
        local.push_back(table[order[k]].name + ("=" + std::string(text.begin(), text.end())));
    }
    return local;
}

} // namespace

// Two PCs against the real service: a download never goes up again and an
// edit made meanwhile survives; changes on both sides are both kept; a full
// store takes a cloud change; a deletion in the cloud is followed; an upload
// refused after its clip was created is finished on that clip later.
TEST_F(RealService, TwoPcsKeepEveryEdit)
{
    TwoPcs pcs;
    StoreClipping("Note", FALSE, L"v1 $ & = + 10%\r\nline", nullptr, nullptr);
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    pcs.Use(1);
    EXPECT_EQ(Summary(0, 1, 0, 0), Sync());
    EXPECT_EQ(Texts{"Note=v1 $ & = + 10%\r\nline"}, LocalClippings());
    pcs.Use(0);
    StoreClipping("Note", TRUE, L"v2", nullptr, nullptr);
    pcs.Use(1);
    EXPECT_EQ(Summary(0, 0, 0, 1), Sync()); // what came down does not go up
    pcs.Use(0);
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    pcs.Use(1);
    EXPECT_EQ(Summary(0, 1, 0, 0), Sync());
    EXPECT_EQ(Texts{"Note=v2"}, LocalClippings());

    StoreClipping("Note", TRUE, L"B's", nullptr, nullptr);
    pcs.Use(0);
    StoreClipping("Note", TRUE, L"A's", nullptr, nullptr);
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    pcs.Use(1);
    EXPECT_EQ(Summary(1, 1, 0, 0, "\n\nChanged here and in the cloud, both versions kept: 'Note'"), Sync());
    pcs.Use(0);
    Sync();
    const Texts both = {"Note=B's", "Note (1)=A's"};
    EXPECT_EQ(both, LocalClippings());
    pcs.Use(1);
    EXPECT_EQ(both, LocalClippings());

    // B full: the cloud's change of "Note (1)" still comes down.
    for (int i = 2; i <= 9; i++)
        StoreClipping(("Full " + std::to_string(i)).c_str(), FALSE, L"x", nullptr, nullptr);
    Sync();
    pcs.Use(0);
    StoreClipping("Note (1)", TRUE, L"A's again", nullptr, nullptr);
    Sync();
    pcs.Use(1);
    EXPECT_FALSE(MayStoreClipping());
    Sync();
    EXPECT_EQ("Note (1)=A's again", LocalClippings().at(9));

    // Deleted in the cloud, unchanged here: deleted here too.
    SyncFailure failure;
    EXPECT_EQ(1, SyncDeleteClip(SyncGetUserID(), CloudIdOf("Full 2"), &failure));
    EXPECT_EQ(Summary(0, 0, 1, 9), Sync());

    // A text over the service's limit: created, refused, and finished on
    // the same clip once it fits.
    StoreClipping("Big", FALSE, std::wstring(1100000, L'b').c_str(), nullptr, nullptr);
    EXPECT_NE(std::string::npos, Sync().find("Not transferred, tried again next time: 'Big'\nThe server "
                                             "replied 'clip part too large'."));
    for (uint32_t slot = 0; slot < MAX_CLIPPINGS; slot++) {
        char section[16];
        FmtRegApp(section, sizeof section, slot);
        if (StoredSetting(section, "Name") == "Big")
            WriteSettingsStringW(section, "UTF", L"small");
    }
    Sync();
    int bigs = 0;
    for (const CloudClipEntry &clip : CloudClips())
        bigs += strcmp(clip.name, "Big") == 0;
    EXPECT_EQ(1, bigs);
    // A full store here, and the deletion of "Full 2" no longer listed among
    // ten present clips: it stays, and "Big" waits for room.
    pcs.Use(0);
    EXPECT_NE(std::string::npos, Sync().find("1 Clips skipped"));
    EXPECT_EQ("Full 2=x", LocalClippings().at(0));
}

// A failure never passes for a completed run, nor for a download; a full
// store skips what it cannot take.
TEST(Sync, ReportsFailuresAndSkipsWithoutLosingTheNextRun)
{
    SetAccount();
    WriteSettingsStringA(nullptr, "LastSync", "2018-01-01 00:00:00");
    WriteSettingsStringA(nullptr, "ServerHost", RefusingHost().c_str());
    EXPECT_NE(std::string::npos, Sync(0).find("could not be reached"));

    // Nine clippings here, eight of them unchanged in the cloud with One and
    // Two: a list holds ten clips at most.
    std::string list = "<Clips>\r\n7=One;2018-02-01 00:00:00;A\r\n8=Two;2018-02-01 00:00:00;A\r\n";
    for (char letter = 'A'; letter < 'J'; letter++) {
        SeedClipping(letter, std::string(1, letter).c_str(), L"text", "2017-06-01 00:00:00");
        if (letter < 'I')
            list += std::to_string(letter) + "=" + letter + ";2017-06-01 00:00:00;A\r\n";
    }
    WriteSettingsInt(nullptr, "ClipCount", 9);
    std::string failing = "list";
    ScriptedServer server([&failing, &list](const std::string &request) {
        if (ActOf(request) == "create")
            list += "9=I;2018-03-01 00:00:00;A\r\n";
        return Service(request, list, failing);
    });
    EXPECT_EQ("Your clippings in the cloud could not be listed, so nothing was synchronized. Please try "
              "again later.",
              Sync(0));
    EXPECT_EQ("2018-01-01 00:00:00", StoredSetting(nullptr, "LastSync"));
    failing = "getdata";
    EXPECT_EQ(Summary(1, 0, 0, 8, "\n\nNot transferred, tried again next time: 'One', 'Two'"), Sync());
    EXPECT_EQ("<none>", StoredSetting("Clip J", "Name"));
    failing = "";
    EXPECT_EQ(Summary(0, 1, 0, 9, "\n\n   1 Clips skipped because the local storage is full."), Sync());
    EXPECT_EQ("Skipping 'Two' - local storage full.@100", m_progress.back());
}

// Whatever way the service breaks off, the run ends, every local clipping
// keeps its text, no half-read list passes for a whole one (nor one cut
// after a clip named like its end tag), and the next run against a sound
// service works.
TEST(Sync, ABrokenServiceLeavesTheLocalClippings)
{
    const std::string both = "<Clips>\r\n5=Both;2018-03-01 00:00:00;A\r\n</Clips>\r\n",
                      cut = "<Clips>\r\n5=</Clips>;2018-01-01 00:00:00;A\r\n6=Cu";
    const struct {
        const char *act;
        Fault fault;
        const std::string &list;
    } cases[] = {
        {"setdata", Fault::Killed, both}, {"list", Fault::Reset, both},     {"getdata", Fault::Reset, both},
        {"list", Fault::Garbage, both},   {"check", Fault::Garbage, both},  {"getdata", Fault::Garbage, both},
        {"knock", Fault::Silent, both},   {"getdata", Fault::Silent, both}, {"list", Fault::None, cut},
    };
    SetHttpTimeout(500);
    for (const auto &c : cases) {
        const std::string name = std::string(c.act) + " " + std::to_string(int(c.fault));
        ResetProgramState();
        SeedClipping('A', "Mine", L"mine\r\n$1");
        SeedClipping('B', "Both", L"old");
        WriteSettingsInt(nullptr, "ClipCount", 2);
        SetAccount();
        ScriptedServer server([&c](const std::string &request) {
            return ActOf(request) == "list" ? OK + c.list : Service(request, "");
        });
        server.Break(c.act, c.fault);
        const std::string said = Sync(-1);
        EXPECT_TRUE(c.fault != Fault::None || said.find("could not be listed") != std::string::npos) << said;
        EXPECT_EQ(L"mine\r\n$1", StoredWideSetting("Clip A", "UTF")) << name;
        EXPECT_EQ(L"old", StoredWideSetting("Clip B", "UTF")) << name;
        for (const std::string &request : server.Requests())
            EXPECT_TRUE(strcmp(c.act, "list") != 0 || ActOf(request) != "create") << name;
    }
    SetHttpTimeout(30000);
    ScriptedServer server([](const std::string &request) { return Service(request, "<Clips>\r\n"); });
    EXPECT_EQ(Summary(2, 0, 0, 0), Sync());
}

// While the service holds the list, the progress dialog is painted, and
// neither another thread nor a message reaching this one starts a run.
TEST(Sync, RunsOnceAndKeepsTheProgressPainted)
{
    SetAccount();
    std::atomic<bool> held{false}, released{false};
    ScriptedServer server([&held, &released](const std::string &request) {
        if (request.find("act=knock") != std::string::npos)
            return OK + "<UserID>5</UserID>";
        held = true;
        while (!released)
            Sleep(20);
        return OK + "<Clips />";
    });
    WNDCLASSA wc = {};
    wc.lpszClassName = "QuilletTestSyncOwner";
    wc.lpfnWndProc = SyncOnRequest;
    RegisterClassA(&wc);
    HWND owner =
        CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    std::thread other([&held, &released, owner] {
        EXPECT_TRUE(WaitFor([&held] { return held.load(); }));
        HWND progress = FindWindowA("#32770", "Syncronize Clips");
        EXPECT_TRUE(progress && IsWindowVisible(progress));
        InvalidateRect(progress, nullptr, TRUE);
        EXPECT_TRUE(WaitFor([progress] { return !GetUpdateRect(progress, nullptr, FALSE); }));
        EXPECT_EQ(0, SyncClips(nullptr));
        DWORD_PTR result = 0;
        EXPECT_TRUE(SendMessageTimeoutA(owner, WM_APP, 0, 0, SMTO_BLOCK, 5000, &result));
        EXPECT_EQ(10u, result);
        released = true;
    });
    EXPECT_EQ(Summary(0, 0, 0, 0), Sync());
    other.join();
    DestroyWindow(owner);
}

// The dialog generates random keys and refuses a weak one; a cancelled
// dialog cancels the run, and an empty server field means the default one.
TEST(CloudAccount, RefusesWeakKeysGeneratesAndCancels)
{
    ScriptedServer server;
    ExpectBox("Cloud Account", ClickButton(IDCANCEL));
    EXPECT_EQ(0, SyncClips(nullptr));
    EXPECT_TRUE(server.Requests().empty());

    Texts seen;
    ExpectBox("Cloud Account", [&seen](HWND dlg) {
        // Names are as long as the service takes them.
        seen.push_back(std::to_string(SendDlgItemMessageA(dlg, IDC_ACC_NAME, EM_GETLIMITTEXT, 0, 0)));
        SetDlgItemTextA(dlg, IDC_ACC_NAME, std::string(129, 'n').c_str());
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-xy");
        seen.push_back(AnswerBox(dlg, IDOK, "Quillet", IDOK));
        SetDlgItemTextA(dlg, IDC_ACC_NAME, std::string(128, 'n').c_str());
        for (int i = 0; i < 2; i++) {
            SendDlgItemMessageA(dlg, IDC_ACC_GENERATE, BM_CLICK, 0, 0);
            seen.push_back(WindowText(GetDlgItem(dlg, IDC_ACC_KEY)));
        }
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-x!");
        seen.push_back(AnswerBox(dlg, IDOK, "Quillet", IDOK));
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-xy");
        SetDlgItemTextA(dlg, IDC_ACC_SERVER, "");
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(EnsureCloudAccount(nullptr));
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ("128", seen[0]);
    EXPECT_EQ("The account name can have at most 128 characters.", seen[1]);
    seen.erase(seen.begin(), seen.begin() + 2);
    EXPECT_EQ(std::string(128, 'n'), StoredSetting(nullptr, "AccountName"));
    for (const std::string &key : {seen[0], seen[1]})
        EXPECT_EQ(20u, strspn(key.c_str(), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"))
            << key;
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_EQ("The account key needs at least 8 letters or digits.", seen[2]);
    EXPECT_EQ("ab-cd-12-xy", StoredSetting(nullptr, "AccountKey"));
    EXPECT_EQ("<none>", StoredSetting(nullptr, "ServerHost"));
    EXPECT_TRUE(EnsureCloudAccount(nullptr)); // no dialog once an account is set
}
