// The cloud clippings: requests and transfer against a scripted service; the
// synchronisation against the real service and scripted failures; the account dialog.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <atomic>
#include <map>
#include <thread>
#include "boxwatch.h"
#include "clippings/store.h"
#include "cloud/account.h"
#include "cloud/clipcrypt.h"
#include "cloud/cloudmgr.h"
#include "cloud/sealtext.h"
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

const std::string OK = "HTTP/1.1 200 OK\r\n\r\n", FIRST = "Quillet=6.0.200&";
using Texts = std::vector<std::string>;
const char KEY[] = "Key4Tests2026xyz";

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

// A sound service, set to serve while it exists: user 5 lists `list` and
// `end`; a new clip gets id 9 and joins the list as `created`; the parts that
// setdata sends to clip 9 are kept and handed back (any clip's text is "abc"
// before). The act named `failing`, or the download of the part so named,
// answers 500; `lenRTF`, if set, is announced as the size of the rich text.
struct Service {
    std::string list = "<Clips>\r\n", end = "</Clips>\r\n", created, failing, lenRTF;
    std::map<std::string, std::string> parts = {{"ClipUTF", "abc"}}, others = parts;
    ScriptedServer server{[this](const std::string &request) { return Answer(request); }};

    std::string Answer(const std::string &request)
    {
        const std::string act = ActOf(request), field = Field(request, "field");
        std::map<std::string, std::string> &clip = Field(request, "DataID") == "9" ? parts : others;
        auto len = [&clip](const char *part) { return std::to_string(clip[part].size()); };
        if (act == failing || (act == "getdata" && field == failing))
            return "HTTP/1.1 500 Oops\r\n\r\n";
        if (act == "setdata")
            clip[field] = Field(request, "data");
        list += act == "create" ? created : "";
        return OK + (act == "knock"    ? "<UserID>5</UserID>"
                     : act == "list"   ? list + end
                     : act == "create" ? "DataID=9\r\n"
                     : act == "check"  ? "<Check>\r\nlenUTF=" + len("ClipUTF") +
                                            "\r\nlenRTF=" + (lenRTF.empty() ? len("ClipRTF") : lenRTF) +
                                            "\r\nlenHTML=" + len("ClipHTML") + "\r\n</Check>\r\n"
                     : act == "getdata" ? "<Data>\r\n" + field + "=" + clip[field] + "\r\n</Data>\r\n"
                                        : "");
    }
};

// The account "ann" of the scripted services.
void SetAccount()
{
    WriteSettingsStringA(nullptr, "AccountName", "ann");
    WriteSettingsStringA(nullptr, "AccountKey", KEY);
}

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
// text of the box it ends with, which has this caption.
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
// upload's parts whole, and an update clearing the variants the clip lost. A
// create without an id sends no part; a failed request gives the first line
// of the reply, for a box or, for an upload, for the summary.
TEST(SyncProto, RequestsAsSentAndFailuresShown)
{
    const std::string reply = "<UserID>4711</UserID><Rename>1</Rename>\r\nDataID=77\r\n";
    ScriptedServer server(OK + reply);
    EXPECT_EQ(-1, SignedInUser());
    WriteSettingsStringA(nullptr, "AccountName", "Ann Lee&Co=1");
    WriteSettingsStringA(nullptr, "AccountKey", "$ecret\xC3\xA9");
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    EXPECT_EQ(4711, SyncGetUserID(keys));
    EXPECT_EQ(4711, SyncRegisterUser(keys));
    char list[64];
    EXPECT_EQ(static_cast<int>(reply.size()), SyncGetClipList(123456789, list, sizeof list));
    SyncFailure failure;
    EXPECT_EQ(1, SyncRenameClip(1, -12345678, "a b", &failure));
    EXPECT_EQ(-1, SyncDeleteClip(1, 2, &failure));
    EXPECT_STREQ("", failure.text);
    uint32_t utf, rtf, html;
    EXPECT_EQ(0, SyncGetClipSize(1, 2, &utf, &rtf, &html));
    UploadResult result = {};
    EXPECT_EQ(77, SyncCreateClip(5, "My clip", &result));
    EXPECT_EQ(1, SyncUploadParts(5, 77, true, "a b\r\n$ \xC3\xA9\n", "{\\rtf}", nullptr, &result));
    EXPECT_EQ(77, result.created);
    EXPECT_EQ(1, SyncUploadParts(5, 9, false, "t", nullptr, "", &result));
    // The sign-in value of this name and key, as worked out apart from the
    // program: another value would lock every account out.
    const std::string account =
        "&name=Ann+Lee%26Co%3D1&key=s1-adfb5a7e62878879bb814c92b0fce795a5b9a0cb2fa105023fa2758ae5ae5adf";
    const std::string data = FIRST + "act=setdata&UserID=5&DataID=";
    Texts forms;
    for (const std::string &request : server.Requests())
        forms.push_back(FormOf(request));
    EXPECT_EQ(
        Texts({FIRST + "act=knock" + account, FIRST + "act=open" + account, FIRST + "act=list&UserID=1234567",
               FIRST + "UserID=1&DataID=-123456&act=rename&ClipName=a+b",
               FIRST + "UserID=1&DataID=2&act=delete", FIRST + "act=check&UserID=1&DataID=2",
               FIRST + "act=create&UserID=5&ClipName=My+clip",
               data + "77&field=ClipUTF&data=a+b%24RN%24%24%24+%C3%A9%0A",
               data + "77&field=ClipRTF&data=%7B%5Crtf%7D", data + "9&field=ClipUTF&data=t",
               data + "9&field=ClipRTF&data=", data + "9&field=ClipHTML&data="}),
        forms);
    EXPECT_EQ(0u, server.Requests()[1].find("POST "));

    ScriptedServer noId(OK + "no id here");
    EXPECT_EQ(-1, SyncCreateClip(5, "n", &result));
    EXPECT_STREQ("Failed to get the DataID!", result.why);
    EXPECT_EQ(1u, noId.Requests().size());
    ScriptedServer failing("HTTP/1.1 500 Oops\r\n\r\nno such clip\r\n<Delete>0</Delete>");
    EXPECT_EQ(0, SyncDeleteClip(1, 2, &failure));
    EXPECT_STREQ("Synchronization error: The server replied 'no such clip'", failure.text);
}

// A busy service is "try again", never taken for an unknown account; a name
// the service holds with another key is said as such. The token of a
// sign-in goes with every request that names its account, and only with
// those; a service without tokens gets none.
TEST(SyncProto, SignInTellsBusyFromTakenFromRefusedAndItsTokenStaysWithItsAccount)
{
    SetAccount();
    const struct {
        const char *knock, *open;
        size_t requests;
        const char *caption, *said;
    } cases[] = {
        {"503 busy", "200 OK", 1, "Synchronize Clippings", "The sync service is busy"},
        {"429 wait", "200 OK", 1, "Synchronize Clippings", "The sync service is busy"},
        {"403 wrong", "409 taken", 3, "Synchronize Clippings",
         "holds an account of this name with another key"},
        {"403 wrong", "503 busy", 2, "Synchronize Clippings", "The sync service is busy"},
        {"403 wrong", "400 bad", 2, "Error", "It is not possible to create"},
    };
    for (const auto &c : cases) {
        ScriptedServer server([&c](const std::string &request) {
            return "HTTP/1.1 " + std::string(ActOf(request) == "knock" ? c.knock : c.open) +
                   "\r\n\r\n<UserID>7</UserID>";
        });
        EXPECT_NE(std::string::npos, Sync(0, c.caption).find(c.said)) << c.knock << c.open;
        EXPECT_EQ(c.requests, server.Requests().size()) << c.knock << c.open;
    }

    const std::string token = "00112233445566778899aabbccddeeff";
    for (const std::string &given : {token, std::string("zz<")}) {
        ScriptedServer server(OK + "<UserID>7</UserID><Token>" + given + "</Token>");
        char body[64];
        EXPECT_EQ(7, SignedInUser());
        SyncGetClipList(7, body, sizeof body);
        SyncGetClipList(8, body, sizeof body);
        const Texts requests = server.Requests();
        ASSERT_EQ(3u, requests.size());
        EXPECT_EQ(given == token, FormOf(requests[1]).find("&Token=" + token) != std::string::npos) << given;
        EXPECT_EQ(std::string::npos, FormOf(requests[2]).find("Token")) << given;
    }
}

namespace {

// The service's accounts as it keeps them: a knock needs the value the name
// was opened with, an open a name it does not hold yet.
std::string AnswerAccounts(std::map<std::string, std::string> &values, const std::string &request)
{
    const std::string act = ActOf(request), name = Field(request, "name");
    const bool held = values.count(name) != 0;
    if (act == "open" && !held)
        values[name] = Field(request, "key");
    if (act == "open" ? !held : held && values[name] == Field(request, "key"))
        return OK + "<UserID>5</UserID>";
    return act == "open" ? "HTTP/1.1 409 taken\r\n\r\n" : "HTTP/1.1 403 wrong\r\n\r\n";
}

} // namespace

// The account key goes only to an account an earlier version opened with
// it, and then only once it has been found so: that is remembered, and the
// next sign-in makes no failed attempt. A new account is opened with the
// sign-in value, also under a name remembered for an account the service no
// longer holds; a wrong key is still a name taken. Each case signs in
// twice: as the case says, then with SyncSignIn.
TEST(SyncProto, SignInSendsTheKeyOnlyToAnAccountOpenedWithIt)
{
    SetAccount();
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    const Texts old = {"knock derived", "open derived", "knock key", "knock key"};
    const struct {
        const char *held, *remembered;
        bool knockOnly;
        Texts seen;
        const char *after;
    } cases[] = {
        {nullptr, "", false, {"knock derived", "open derived", "knock derived"}, "value:ann"},
        {KEY, "", false, old, "key:ann"},
        {KEY, "key:bob", false, old, "key:ann"},
        {KEY, "", true, {"knock derived", "knock key", "knock key"}, "key:ann"},
        {nullptr, "key:ann", false, {"knock key", "open derived", "knock derived"}, "value:ann"},
        {"other",
         "",
         false,
         {"knock derived", "open derived", "knock key", "knock derived", "open derived", "knock key"},
         "<none>"},
        // A service that once took the sign-in value and now says the name
        // is taken is never sent the key.
        {KEY,
         "value:ann",
         false,
         {"knock derived", "open derived", "knock derived", "open derived"},
         "value:ann"},
    };
    for (const auto &c : cases) {
        const std::string name = std::string(c.held ? c.held : "none") + "/" + c.remembered;
        const bool wrong = c.held && (strcmp(c.held, KEY) != 0 || strcmp(c.remembered, "value:ann") == 0);
        WriteSettingsStringA(nullptr, "AccountSignIn", *c.remembered ? c.remembered : nullptr);
        std::map<std::string, std::string> values;
        if (c.held)
            values["ann"] = c.held;
        ScriptedServer server(
            [&values](const std::string &request) { return AnswerAccounts(values, request); });
        SignInFailure failure = SIGNIN_BUSY;
        EXPECT_EQ(wrong ? -1 : 5, c.knockOnly ? SyncGetUserID(keys) : SyncSignIn(keys, &failure)) << name;
        EXPECT_EQ(wrong ? -1 : 5, SyncSignIn(keys, &failure)) << name;
        EXPECT_EQ(wrong ? SIGNIN_NAME_TAKEN : SIGNIN_BUSY, failure) << name;
        Texts seen;
        for (const std::string &request : server.Requests()) {
            const std::string value = Field(request, "key");
            seen.push_back(ActOf(request) + (value == KEY           ? " key"
                                             : value == keys.signIn ? " derived"
                                                                    : " " + value));
            // The key goes in no other field.
            EXPECT_EQ(value == KEY, request.find(KEY) != std::string::npos) << name;
        }
        EXPECT_EQ(c.seen, seen) << name;
        EXPECT_EQ(c.after, StoredSetting(nullptr, "AccountSignIn")) << name;
    }
}

// Text travels sealed, with a fresh nonce each time (an empty part too); a
// download with a part missing, or into a full store, replaces nothing;
// blocks are sized from what arrived, not from what was announced.
TEST(Transfer, RoundTripThroughStoreAndClipboard)
{
    SetAccount();
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    EXPECT_STREQ("", OpenPart(keys, 8, "ClipUTF", SealPart(keys, 8, "ClipUTF", "").get()).get());
    const std::wstring text = L"Hello, W\x00f6rld\r\n$5";
    StoreClipping("Greeting", FALSE, text.c_str(), "{\\rtf1 Hi}", nullptr);
    Service cloud;
    UploadResult result;
    EXPECT_EQ(1, PostClipToCloud(5, -1, 0, keys, &result));
    const std::string sealed = cloud.parts["ClipUTF"];
    EXPECT_EQ(0u, sealed.find(SEAL_MARKER)) << sealed;
    EXPECT_EQ(1, PostClipToCloud(5, 9, 0, keys, &result));
    EXPECT_NE(sealed, cloud.parts["ClipUTF"]);

    const char *unopened = "";
    StoreClipping("Greeting", TRUE, L"changed", nullptr, "<b>old</b>");
    cloud.failing = "ClipRTF";
    EXPECT_EQ(CLIP_DATA_FAILED, GetClipFromCloud(5, 9, "Greeting", keys, nullptr, &unopened));
    EXPECT_EQ(L"changed", StoredWideSetting("Clip A", "UTF"));
    cloud.failing = "";
    EXPECT_EQ(1, GetClipFromCloud(5, 9, "Greeting", keys, nullptr, &unopened));
    EXPECT_EQ(nullptr, unopened);
    EXPECT_EQ(text + L"|{\\rtf1 Hi}|<none>", StoredWideSetting("Clip A", "UTF") + L"|" +
                                                 StoredWideSetting("Clip A", "RTF") + L"|" +
                                                 StoredWideSetting("Clip A", "HTML"));

    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    cloud.lenRTF = "2";
    EXPECT_EQ(1, GetClipFromCloud(5, 9, "Greeting", keys, window, &unopened));
    std::string placed = ClipboardData(CF_UNICODETEXT) + std::string(2, '\0');
    EXPECT_EQ(text, reinterpret_cast<const wchar_t *>(placed.c_str()));
    EXPECT_STREQ("{\\rtf1 Hi}", ClipboardData(RTF).c_str());
    DestroyWindow(window);

    for (char letter = 'B'; letter <= 'J'; letter++)
        SeedClipping(letter, std::string(1, letter).c_str());
    EXPECT_EQ(CLIP_DATA_FAILED, GetClipFromCloud(5, 9, "Greeting", keys, nullptr, &unopened));
}

namespace {

// Two PCs of one account: each keeps its own copy of the program's key, put
// in place while it is the one in use.
class TwoPcs {
public:
    TwoPcs() { Copy(SETTINGS_ROOT, Saved(1)); }
    ~TwoPcs()
    {
        for (int pc : {0, 1})
            RegDeleteTreeA(HKEY_CURRENT_USER, Saved(pc).c_str());
    }
    void Use(int pc)
    {
        Copy(SETTINGS_ROOT, Saved(m_current));
        Copy(Saved(m_current = pc), SETTINGS_ROOT);
    }
    std::string SyncOn(int pc) { return Use(pc), Sync(); }

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

// "name=text" of each local clipping, in name order; its section in *where.
Texts LocalClippings(const char *name = "", std::string *where = nullptr)
{
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    Texts local;
    for (uint32_t k = 0, n = LoadClippingNames(table, MAX_CLIPPINGS, order); k < n; k++) {
        char section[16];
        FmtRegApp(section, sizeof section, table[order[k]].slot);
        const std::wstring text = StoredWideSetting(section, "UTF");
        local.push_back(table[order[k]].name + ("=" + std::string(text.begin(), text.end())));
        if (where && strcmp(table[order[k]].name, name) == 0)
            *where = section;
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
    EXPECT_EQ(Summary(0, 1, 0, 0), pcs.SyncOn(1));
    EXPECT_EQ(Texts{"Note=v1 $ & = + 10%\r\nline"}, LocalClippings());
    pcs.Use(0);
    StoreClipping("Note", TRUE, L"v2", nullptr, nullptr);
    EXPECT_EQ(Summary(0, 0, 0, 1), pcs.SyncOn(1)); // what came down does not go up
    EXPECT_EQ(Summary(1, 0, 0, 0), pcs.SyncOn(0));
    EXPECT_EQ(Summary(0, 1, 0, 0), pcs.SyncOn(1));
    EXPECT_EQ(Texts{"Note=v2"}, LocalClippings());

    StoreClipping("Note", TRUE, L"B's", nullptr, nullptr);
    pcs.Use(0);
    StoreClipping("Note", TRUE, L"A's", nullptr, nullptr);
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    EXPECT_EQ(Summary(1, 1, 0, 0, "\n\nChanged here and in the cloud, both versions kept: 'Note'"),
              pcs.SyncOn(1));
    pcs.SyncOn(0);
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
    EXPECT_EQ(1, SyncDeleteClip(SignedInUser(), CloudIdOf("Full 2"), &failure));
    EXPECT_EQ(Summary(0, 0, 1, 9), Sync());

    // A text over the service's limit: created, refused, and finished on the
    // same clip once it fits.
    StoreClipping("Big", FALSE, std::wstring(1100000, L'b').c_str(), nullptr, nullptr);
    EXPECT_NE(std::string::npos, Sync().find("Not transferred, tried again next time: 'Big'\nThe server "
                                             "replied 'clip part too large'."));
    std::string big;
    LocalClippings("Big", &big);
    WriteSettingsStringW(big.c_str(), "UTF", L"small");
    Sync();
    const std::vector<CloudClipEntry> clips = CloudClips();
    EXPECT_EQ(1, std::count_if(clips.begin(), clips.end(),
                               [](const CloudClipEntry &c) { return strcmp(c.name, "Big") == 0; }));
    // A full store here, and the deletion of "Full 2" no longer listed among
    // ten present clips: it stays, and "Big" waits for room.
    EXPECT_NE(std::string::npos, pcs.SyncOn(0).find("1 Clips skipped"));
    EXPECT_EQ("Full 2=x", LocalClippings().at(0));
}

namespace {

// The parts of a cloud clip as the service holds them: text, rich text, HTML.
Texts CloudParts(int32_t id)
{
    uint32_t len[3] = {};
    SyncGetClipSize(SignedInUser(), id, &len[0], &len[1], &len[2]);
    Texts parts = {std::string(len[0] + 64, '\0'), std::string(len[1] + 64, '\0'),
                   std::string(len[2] + 64, '\0')};
    SyncGetClipData(SignedInUser(), id, &parts[0][0], parts[0].size(), &parts[1][0], parts[1].size(),
                    &parts[2][0], parts[2].size());
    for (std::string &part : parts)
        part.resize(strlen(part.c_str()));
    return parts;
}

// The service over TLS when the test command serves the same database so:
// it counts new accounts apart from the one over plain HTTP.
void UseTlsService()
{
    if (const char *tls = getenv("QUILLET_TEST_TLS_SERVICE")) {
        WriteSettingsStringA(nullptr, "ServerHost", ("https://" + std::string(tls)).c_str());
        WriteSettingsStringA(nullptr, "ServerFingerprint", getenv("QUILLET_TEST_TLS_FINGERPRINT"));
    }
}

// "text|rich text|HTML" of the clipping of that name.
std::wstring LocalParts(const char *name)
{
    std::string section;
    LocalClippings(name, &section);
    const std::string rtf = StoredSetting(section.c_str(), "RTF"),
                      html = StoredSetting(section.c_str(), "HTML");
    return StoredWideSetting(section.c_str(), "UTF") + L"|" + std::wstring(rtf.begin(), rtf.end()) + L"|" +
           std::wstring(html.begin(), html.end());
}

} // namespace

// Every part goes through the real service sealed and comes back whole on
// the other PC (over TLS when there is such a service), while the service's
// database holds none of them. A clip
// uploaded scrambled, as before sealing, comes down as it was and goes up
// sealed once changed. Rich text changed on the service, moved there from
// the HTML, sealed for another clip or with another account's key stores
// nothing and is named, by the summary and by the cloud manager.
TEST_F(RealService, ClippingsTravelSealed)
{
    UseTlsService();
    TwoPcs pcs;
    const std::wstring text = L"Quokka-7f3a p\u00e4ss $ & = + 10%\r\nline";
    const std::wstring whole = text + L"|{\\rtf1 Wombat-c41e}|<b>Numbat-9d2b</b>";
    StoreClipping("Sealed", FALSE, text.c_str(), "{\\rtf1 Wombat-c41e}", "<b>Numbat-9d2b</b>");
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    std::string old[] = {"Old \xC3\xA9quidna 42", "{\\rtf1 Old}", "<i>Old</i>"};
    for (std::string &part : old)
        RolString(1, &part[0], keys.rol, keys.rolLen);
    const int32_t user = SignedInUser(), id = CloudIdOf("Sealed");
    UploadResult result = {};
    ASSERT_EQ(1, SyncUploadParts(user, SyncCreateClip(user, "Old", &result), true, old[0].c_str(),
                                 old[1].c_str(), old[2].c_str(), &result));
    const Texts sealed = CloudParts(id);
    for (const std::string &part : sealed)
        EXPECT_EQ(0u, part.find(SEAL_MARKER)) << part;
    EXPECT_EQ(Summary(0, 2, 0, 0), pcs.SyncOn(1));
    EXPECT_EQ(whole, LocalParts("Sealed"));
    EXPECT_EQ(L"Old \u00e9quidna 42|{\\rtf1 Old}|<i>Old</i>", LocalParts("Old"));

    std::string changed = sealed[1];
    changed[changed.size() - 3] = changed[changed.size() - 3] == 'A' ? 'B' : 'A';
    WriteSettingsStringA(nullptr, "AccountKey", "Another4Key2026");
    CloudKeys other;
    PrepareCloudKeys(&other);
    WriteSettingsStringA(nullptr, "AccountKey", "Key4Tests2026xyz");
    for (const std::string &rtf :
         {changed, sealed[2], std::string(SealPart(keys, id + 1, "ClipRTF", "x").get()),
          std::string(SealPart(other, id, "ClipRTF", "x").get())}) {
        ASSERT_EQ(
            1, SyncUploadParts(user, id, false, sealed[0].c_str(), rtf.c_str(), sealed[2].c_str(), &result));
        EXPECT_NE(std::string::npos,
                  Sync().find("Not decrypted, so not stored (another account key, or changed "
                              "on the service): the rich text of 'Sealed'"));
        EXPECT_EQ(whole, LocalParts("Sealed"));
    }
    StoreClipping("Old", TRUE, L"Old, changed", nullptr, nullptr);
    Sync();
    EXPECT_EQ(0u, CloudParts(CloudIdOf("Old"))[0].find(SEAL_MARKER));
    std::string said;
    ExpectBox("Quillet", NoteText(&said));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("before", 7)}}));
    EXPECT_EQ(1, RunDialog("Manage Cloud Clippings", CloudMgrDialog, [](HWND dlg) {
                  SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_SELECTSTRING, WPARAM(-1), LPARAM("Sealed"));
                  PostMessageA(dlg, WM_COMMAND, IDC_CM_COPY, 0);
              }));
    EXPECT_EQ(
        "The rich text of the clipping 'Sealed' could not be decrypted (another account key, or changed "
        "on the service), so nothing was copied.",
        said);
    EXPECT_STREQ("before", ClipboardData(CF_TEXT).c_str());

    // The service keeps its data in the file and in the log of changes not
    // yet moved into it; the search finds what it stores as it was sent.
    const char *db = getenv("QUILLET_TEST_SERVICE_DB");
    if (!db)
        GTEST_SKIP() << "no database named in QUILLET_TEST_SERVICE_DB";
    const std::string stored = ReadFileBytes(db) + ReadFileBytes(std::string(db) + "-wal");
    EXPECT_NE(std::string::npos, stored.find(old[0]));
    EXPECT_NE(std::string::npos, stored.find(sealed[0]));
    for (const char *secret : {"Quokka-7f3a", "Wombat-c41e", "Numbat-9d2b", "Old, changed"})
        EXPECT_EQ(std::string::npos, stored.find(secret)) << secret;
}

// An account that an earlier version opened with its key keeps working,
// and is remembered as such on this PC.
TEST_F(RealService, AnAccountOpenedWithItsKeyStillSynchronises)
{
    UseTlsService();
    const std::string name = StoredSetting(nullptr, "AccountName");
    const std::string form = FIRST + "act=open&name=" + name + "&key=" + KEY;
    char reply[256];
    ASSERT_EQ(200u, DoHttpPost(SYNC_PATH, form.c_str(), reply, sizeof reply)) << reply;
    StoreClipping("Old", FALSE, L"opened with the key", nullptr, nullptr);
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    EXPECT_EQ("key:" + name, StoredSetting(nullptr, "AccountSignIn"));
    EXPECT_EQ(Summary(0, 0, 0, 1), Sync());
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
    Service cloud;
    cloud.list += "7=One;2018-02-01 00:00:00;A\r\n8=Two;2018-02-01 00:00:00;A\r\n";
    cloud.created = "9=I;2018-03-01 00:00:00;A\r\n";
    for (char letter = 'A'; letter < 'J'; letter++) {
        SeedClipping(letter, std::string(1, letter).c_str(), L"text", "2017-06-01 00:00:00");
        if (letter < 'I')
            cloud.list += std::to_string(letter) + "=" + letter + ";2017-06-01 00:00:00;A\r\n";
    }
    WriteSettingsInt(nullptr, "ClipCount", 9);
    cloud.failing = "list";
    EXPECT_EQ("Your clippings in the cloud could not be listed, so nothing was synchronized. Please try "
              "again later.",
              Sync(0));
    EXPECT_EQ("2018-01-01 00:00:00", StoredSetting(nullptr, "LastSync"));
    cloud.failing = "getdata";
    EXPECT_EQ(Summary(1, 0, 0, 8, "\n\nNot transferred, tried again next time: 'One', 'Two'"), Sync());
    EXPECT_EQ("<none>", StoredSetting("Clip J", "Name"));
    cloud.failing = "";
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
        Service cloud;
        cloud.list = c.list;
        cloud.end = "";
        cloud.server.Break(c.act, c.fault);
        const std::string said = Sync(-1);
        EXPECT_TRUE(c.fault != Fault::None || said.find("could not be listed") != std::string::npos) << said;
        EXPECT_EQ(L"mine\r\n$1", StoredWideSetting("Clip A", "UTF")) << name;
        EXPECT_EQ(L"old", StoredWideSetting("Clip B", "UTF")) << name;
        for (const std::string &request : cloud.server.Requests())
            EXPECT_TRUE(strcmp(c.act, "list") != 0 || ActOf(request) != "create") << name;
    }
    SetHttpTimeout(30000);
    Service cloud;
    EXPECT_EQ(Summary(2, 0, 0, 0), Sync());
}

// While the service holds the list, the progress dialog is painted, and
// neither another thread nor a message reaching this one starts a run.
TEST(Sync, RunsOnceAndKeepsTheProgressPainted)
{
    SetAccount();
    std::atomic<bool> held{false}, released{false};
    ScriptedServer server([&held, &released](const std::string &request) {
        held = ActOf(request) == "list";
        while (held && !released)
            Sleep(20);
        return OK + (held ? "<Clips />" : "<UserID>5</UserID>");
    });
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SyncOnRequest));
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
    WriteSettingsStringA(nullptr, "AccountSignIn", std::string(128, 'n').c_str());
    ExpectBox("Cloud Account", ClickButton(IDCANCEL));
    EXPECT_EQ(0, SyncClips(nullptr));
    EXPECT_TRUE(server.Requests().empty());

    Texts keys;
    ExpectBox("Cloud Account", [&keys](HWND dlg) {
        // Names are as long as the service takes them.
        EXPECT_EQ(128, SendDlgItemMessageA(dlg, IDC_ACC_NAME, EM_GETLIMITTEXT, 0, 0));
        SetDlgItemTextA(dlg, IDC_ACC_NAME, std::string(129, 'n').c_str());
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-xy");
        EXPECT_EQ("The account name can have at most 128 characters.", AnswerBox(dlg, IDOK, "Quillet", IDOK));
        SetDlgItemTextA(dlg, IDC_ACC_NAME, std::string(128, 'n').c_str());
        for (int i = 0; i < 2; i++) {
            SendDlgItemMessageA(dlg, IDC_ACC_GENERATE, BM_CLICK, 0, 0);
            keys.push_back(WindowText(GetDlgItem(dlg, IDC_ACC_KEY)));
        }
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-x!");
        EXPECT_EQ("The account key needs at least 8 letters or digits.",
                  AnswerBox(dlg, IDOK, "Quillet", IDOK));
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-xy");
        SetDlgItemTextA(dlg, IDC_ACC_SERVER, "");
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(EnsureCloudAccount(nullptr));
    ASSERT_EQ(2u, keys.size());
    EXPECT_NE(keys[0], keys[1]);
    for (const std::string &key : keys)
        EXPECT_EQ(20u, strspn(key.c_str(), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"))
            << key;
    EXPECT_EQ(std::string(128, 'n'), StoredSetting(nullptr, "AccountName"));
    EXPECT_EQ("ab-cd-12-xy", StoredSetting(nullptr, "AccountKey"));
    EXPECT_EQ("<none>", StoredSetting(nullptr, "ServerHost"));
    // The account another server knew by its key sends it nowhere else.
    EXPECT_EQ("<none>", StoredSetting(nullptr, "AccountSignIn"));
    EXPECT_TRUE(EnsureCloudAccount(nullptr)); // no dialog once an account is set
}
