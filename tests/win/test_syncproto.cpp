// The sync service's requests and the clip transfer against a scripted
// loopback server.
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "clippings/store.h"
#include "cloud/syncproto.h"
#include "cloud/transfer.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"

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

std::vector<std::string> Forms(ScriptedServer &server)
{
    std::vector<std::string> forms;
    for (const std::string &request : server.Requests())
        forms.push_back(FormOf(request));
    return forms;
}

// A value of a form, decoded.
std::string Decoded(const std::string &form, const std::string &key)
{
    size_t start = ("&" + form).find("&" + key + "=") + key.size() + 1;
    std::string value = form.substr(start, form.find('&', start) - start), out;
    for (size_t i = 0; i < value.size(); i++) {
        if (value[i] != '%') {
            out += value[i] == '+' ? ' ' : value[i];
            continue;
        }
        out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return out;
}

// Keeps the parts that setdata sends and answers create, check and getdata.
struct Cloud {
    std::map<std::string, std::string> parts;
    std::string failField, lenRTF;
    std::string Answer(const std::string &request)
    {
        std::string form = FormOf(request), act = Decoded(form, "act");
        if (act == "create")
            return OK + "DataID=31\r\n";
        if (act == "check")
            return OK + "<Check>\r\nlenUTF=" + Len("ClipUTF") +
                   "\r\nlenRTF=" + (lenRTF.empty() ? Len("ClipRTF") : lenRTF) +
                   "\r\nlenHTML=" + Len("ClipHTML") + "\r\n</Check>";
        std::string field = Decoded(form, "field");
        if (act == "setdata")
            parts[field] = Decoded(form, "data");
        if (act == "setdata" || field == failField)
            return act == "setdata" ? OK : "HTTP/1.1 500 Oops\r\n\r\n";
        return OK + "<Data>\r\n" + field + "=" + parts[field] + "\r\n</Data>\r\n";
    }
    std::string Len(const char *field) { return std::to_string(parts[field].size()); }
};

std::wstring Stored(const char *name)
{
    wchar_t buf[256];
    GetSettingsStringW("Clip A", name, "<none>", buf, sizeof buf);
    return buf;
}

} // namespace

TEST(SyncProto, RequestsAsSent)
{
    const std::string reply = "<UserID>4711</UserID><Rename>1</Rename>";
    ScriptedServer server({OK + reply});
    EXPECT_EQ(-1, SyncGetUserID());
    WriteSettingsStringA(nullptr, "AccountName", "Ann Lee&Co=1");
    WriteSettingsStringA(nullptr, "AccountKey", "$ecret\xC3\xA9");
    EXPECT_EQ(4711, SyncGetUserID());
    EXPECT_EQ(4711, SyncRegisterUser());
    char list[64];
    EXPECT_EQ(static_cast<int>(reply.size()), SyncGetClipList(123456789, list, sizeof list));
    EXPECT_EQ(1, SyncRenameClip(1, -12345678, "a b"));
    EXPECT_EQ(-1, SyncDeleteClip(1, 2));
    uint32_t utf, rtf, html;
    EXPECT_EQ(0, SyncGetClipSize(1, 2, &utf, &rtf, &html));
    const std::string account = "&name=Ann+Lee%26Co%3D1&key=%24ecret%C3%A9";
    EXPECT_EQ(std::vector<std::string>({FIRST + "act=knock" + account, FIRST + "act=open" + account,
                                        FIRST + "act=list&UserID=1234567",
                                        FIRST + "UserID=1&DataID=-123456&act=rename&ClipName=a+b",
                                        FIRST + "UserID=1&DataID=2&act=delete",
                                        FIRST + "act=check&UserID=1&DataID=2"}),
              Forms(server));
    EXPECT_EQ(0u, server.Requests()[1].find("POST "));
}

TEST(SyncProto, UploadsAreSentWhole)
{
    ScriptedServer server({OK + "DataID=77\r\n"});
    EXPECT_EQ(-1, SyncUploadClip(5, -1, "My clip", "a b\r\n$ \xC3\xA9\n", "{\\rtf}", nullptr));
    // An update clears the variants the clipping no longer has.
    EXPECT_EQ(-1, SyncUploadClip(5, 9, "My clip", "t", nullptr, ""));
    const std::string data = FIRST + "act=setdata&UserID=5&DataID=";
    EXPECT_EQ(std::vector<std::string>({FIRST + "act=create&UserID=5&ClipName=My+clip",
                                        data + "77&field=ClipUTF&data=a+b%24RN%24%24%24+%C3%A9%0A",
                                        data + "77&field=ClipRTF&data=%7B%5Crtf%7D",
                                        data + "9&field=ClipUTF&data=t",
                                        data + "9&field=ClipRTF&data=", data + "9&field=ClipHTML&data="}),
              Forms(server));

    std::string big;
    for (int i = 0; i < 3000; i++)
        big += "&=%$\r\n\xE9+"[i % 8];
    EXPECT_EQ(-1, SyncUploadClip(5, 9, "big", big.c_str(), nullptr, nullptr));
    HeapPtr<char> sent(DecodeCRLF(Decoded(Forms(server)[6], "data").c_str()));
    EXPECT_EQ(big, sent.get());
}

TEST(SyncProto, FailuresAreShown)
{
    std::string text;
    ScriptedServer server({OK + "no id here"});
    ExpectBox("Quillet", NoteText(&text));
    EXPECT_EQ(-1, SyncUploadClip(5, -1, "n", "t", nullptr, nullptr));
    EXPECT_EQ("Failed to get the DataID!", text);
    EXPECT_EQ(1u, server.Requests().size());
    WriteSettingsStringA(nullptr, "ServerHost", RefusingHost().c_str());
    ExpectBox("Quillet", NoteText(&text));
    EXPECT_EQ(0, SyncUploadClip(5, -1, "n", "t", nullptr, nullptr));
    EXPECT_EQ("Synchronization error: The server replied ''", text);

    ScriptedServer failing({"HTTP/1.1 500 Oops\r\n\r\nno such clip\r\n<Delete>0</Delete>"});
    ExpectBox("Quillet", NoteText(&text));
    EXPECT_EQ(0, SyncDeleteClip(1, 2));
    EXPECT_EQ("Synchronization error: The server replied 'no such clip'", text);
}

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
    EXPECT_EQ(-1, PostClipToCloud(5, -1, 0, key, keyLen));
    EXPECT_EQ("Rijmq, A\xC3\xB6ton$RN$$$7", cloud.parts["ClipUTF"]);

    StoreClipping("Greeting", TRUE, L"changed", nullptr, "<b>old</b>");
    cloud.failField = "ClipRTF";
    EXPECT_EQ(CLIP_DATA_FAILED, GetClipFromCloud(5, 31, "Greeting", key, keyLen, nullptr));
    EXPECT_EQ(L"changed", Stored("UTF"));
    cloud.failField = "";
    EXPECT_EQ(1, GetClipFromCloud(5, 31, "Greeting", key, keyLen, nullptr));
    EXPECT_EQ(text + L"|{\\rtf1 Hi}|<none>", Stored("UTF") + L"|" + Stored("RTF") + L"|" + Stored("HTML"));

    // Blocks are sized from what arrived, not from what was announced.
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    cloud.lenRTF = "2";
    EXPECT_EQ(1, GetClipFromCloud(5, 31, "Greeting", key, keyLen, window));
    std::string placed = ClipboardData(CF_UNICODETEXT) + std::string(2, '\0');
    EXPECT_EQ(text, reinterpret_cast<const wchar_t *>(placed.c_str()));
    EXPECT_STREQ("{\\rtf1 Hi}", ClipboardData(RegisterClipboardFormatA("Rich Text Format")).c_str());
    DestroyWindow(window);

    WriteSettingsInt(nullptr, "ClipCount", 10);
    EXPECT_EQ(CLIP_DATA_FAILED, GetClipFromCloud(5, 31, "Greeting", key, keyLen, nullptr));
}
