#include "cloud/syncproto.h"
#include <windows.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <initializer_list>
#include <vector>
#include "cloud/account.h"
#include "cloud/clipcrypt.h"
#include "cloud/wire.h"
#include "net/http.h"
#include "net/httpreply.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/safefns.h"

namespace {

const size_t ACCOUNT_REPLY_SIZE = 1024;
const size_t CHECK_REPLY_SIZE = 1024;
const size_t CHANGE_REPLY_SIZE = 512;
// Room a download's reply needs besides its largest part.
const size_t DATA_REPLY_EXTRA = 1024;
const size_t UPLOAD_REPLY_EXTRA = 512;

// The token of the last sign-in and the account it belongs to: a service
// that gives one expects it with every request that names the account.
const size_t TOKEN_MAX = 64;
char m_Token[TOKEN_MAX + 1];
char m_TokenUser[8];

// One request's form: the program's pair first, then the request's own, and
// the token when it names the account of the last sign-in.
class Form {
public:
    Form(std::initializer_list<FormPair> pairs)
    {
        std::vector<FormPair> all = {{APP_NAME, APP_VERSION}};
        all.insert(all.end(), pairs);
        for (const FormPair &pair : pairs)
            if (strcmp(pair.key, "UserID") == 0 && m_Token[0] && strcmp(pair.value, m_TokenUser) == 0)
                all.push_back({"Token", m_Token});
        m_text.reset(NewForm(all.data(), all.size()));
    }
    const char *get() const { return m_text.get(); }

private:
    HeapPtr<char> m_text;
};

struct IdText {
    explicit IdText(int32_t id) { FormatId(id, text); }
    char text[8];
};

// Without a form (no memory) no request is made; the body is left empty.
uint32_t SyncHttpGet(const Form &form, char *body, size_t size)
{
    if (form.get())
        return DoHttpGet(SYNC_PATH, form.get(), body, size);
    memset(body, 0, size);
    return 0;
}

uint32_t SyncHttpPost(const Form &form, char *body, size_t size)
{
    if (form.get())
        return DoHttpPost(SYNC_PATH, form.get(), body, size);
    memset(body, 0, size);
    return 0;
}

// A service without tokens sends none, and none is sent back to it.
void KeepToken(const char *body, int32_t user)
{
    m_Token[0] = '\0';
    FormatId(user, m_TokenUser);
    const char *start = strstr(body, "<Token>");
    if (!start)
        return;
    start += strlen("<Token>");
    const size_t length = strspn(start, "0123456789abcdefABCDEF");
    if (length > 0 && length <= TOKEN_MAX && strncmp(start + length, "</Token>", 8) == 0)
        safe_strncpy(m_Token, sizeof m_Token, start, length);
}

// How this PC has seen the account sign in: "key:" and the name of an
// account that an earlier version opened with its key (its sign-ins go
// straight to the key: the service slows down an address for every failed
// attempt), or "value:" and the name of one the sign-in value opens (the key
// never goes to it, whatever a service answers).
const char SIGNED_IN_AS[] = "AccountSignIn";

// The account in the settings as it signs in. Without its keys it makes no
// request, as without an account.
class AccountSignIn {
public:
    explicit AccountSignIn(const CloudKeys &keys) : m_keys(keys)
    {
        m_set = keys.ready && GetCloudAccount(m_name, sizeof m_name, m_key, sizeof m_key);
        char kept[ACCOUNT_TEXT_SIZE + 8] = "";
        GetSettingsStringA(nullptr, SIGNED_IN_AS, "", kept, sizeof kept);
        m_withKey = m_set && kept == "key:" + std::string(m_name);
        m_withValue = m_set && kept == "value:" + std::string(m_name);
    }
    ~AccountSignIn() { SecureZeroMemory(m_key, sizeof m_key); }
    AccountSignIn(const AccountSignIn &) = delete;
    AccountSignIn &operator=(const AccountSignIn &) = delete;

    // Whether the key is still to be tried, for an account opened with it.
    bool MayBeOpenedWithKey() const { return m_set && !m_withKey && !m_withValue; }
    int32_t Knock(uint32_t *status)
    {
        const int32_t id = Request("knock", m_withKey ? m_key : m_keys.signIn, status);
        if (id > 0 && !m_withKey)
            Remember("value:");
        return id;
    }
    // An account the key opens is remembered as one opened with it.
    int32_t KnockWithKey(uint32_t *status)
    {
        const int32_t id = Request("knock", m_key, status);
        if (id > 0)
            Remember("key:");
        return id;
    }
    // A new account is opened with the sign-in value, and signs in with it
    // from then on, whatever account of that name there was before.
    int32_t Open(uint32_t *status)
    {
        const int32_t id = Request("open", m_keys.signIn, status);
        if (id > 0)
            Remember("value:");
        return id;
    }

private:
    // knock or open: the user id of the account, or -1; the reply's status
    // (0 when there was none).
    int32_t Request(const char *act, const char *value, uint32_t *status) const
    {
        *status = 0;
        if (!m_set)
            return -1;
        Form form({{"act", act}, {"name", m_name}, {"key", value}});
        char body[ACCOUNT_REPLY_SIZE];
        const bool open = strcmp(act, "open") == 0;
        *status = open ? SyncHttpPost(form, body, sizeof body) : SyncHttpGet(form, body, sizeof body);
        const int32_t id = *status == 200 ? GetPXMLInt(body, "UserID") : -1;
        if (id > 0)
            KeepToken(body, id);
        return id;
    }

    void Remember(const char *how)
    {
        if (!(strcmp(how, "key:") == 0 ? m_withKey : m_withValue))
            WriteSettingsStringA(nullptr, SIGNED_IN_AS, (how + std::string(m_name)).c_str());
    }

    const CloudKeys &m_keys;
    char m_name[ACCOUNT_TEXT_SIZE] = "", m_key[ACCOUNT_TEXT_SIZE] = "";
    bool m_set = false, m_withKey = false, m_withValue = false;
};

bool IsBusy(uint32_t status)
{
    return status == 0 || status == 429 || status == 503;
}

// Sends one part of a clipping; the reply stays in `reply`.
bool PostPart(int32_t userId, int32_t dataId, const char *field, const char *value, char *reply, size_t size)
{
    HeapPtr<char> data(EncodeCRLF(value));
    uint32_t status = 0;
    if (data)
        status = SyncHttpPost(Form({{"act", "setdata"},
                                    {"UserID", IdText(userId).text},
                                    {"DataID", IdText(dataId).text},
                                    {"field", field},
                                    {"data", data.get()}}),
                              reply, size);
    else
        memset(reply, 0, size);
    return status == 200;
}

// Creates a cloud clipping; its data id (-1 when the reply holds none), or
// false when it could not be created (the reply stays in `reply`).
bool CreateClip(int32_t userId, const char *name, char *reply, size_t size, int32_t *dataId)
{
    Form form({{"act", "create"}, {"UserID", IdText(userId).text}, {"ClipName", name}});
    if (SyncHttpPost(form, reply, size) != 200)
        return false;
    *dataId = FindKeyValueUL(reply, "DataID");
    return true;
}

// Why an upload failed: the reply's first line.
int UploadFailed(const char *reply, UploadResult *result)
{
    snprintf(result->why, sizeof result->why, "%.*s",
             static_cast<int>(std::min<size_t>(strcspn(reply, "\r\n"), INT_MAX)), reply);
    return 0;
}

// Reads one part of a download into dst; a failed request leaves it as it was.
void GetPart(int32_t userId, int32_t dataId, const char *field, char *dst, size_t dstSize, char *reply,
             size_t size)
{
    Form form({{"UserID", IdText(userId).text},
               {"DataID", IdText(dataId).text},
               {"act", "getdata"},
               {"field", field}});
    if (SyncHttpGet(form, reply, size) == 200)
        ParseWholeClipData(reply, field, dst, dstSize);
}

// rename or delete: the reply's tag value; the sync error when it failed.
int32_t ChangeRequest(const Form &form, const char *tag, SyncFailure *failure)
{
    char body[CHANGE_REPLY_SIZE];
    failure->text[0] = '\0';
    if (SyncHttpGet(form, body, sizeof body) != 200)
        snprintf(failure->text, sizeof failure->text, "Synchronization error: The server replied '%.*s'",
                 static_cast<int>(std::min<size_t>(strcspn(body, "\r"), INT_MAX)), body);
    return GetPXMLInt(body, tag);
}

} // namespace

int32_t SyncGetUserID(const CloudKeys &keys)
{
    AccountSignIn account(keys);
    uint32_t status;
    const int32_t id = account.Knock(&status);
    return status == 403 && account.MayBeOpenedWithKey() ? account.KnockWithKey(&status) : id;
}

int32_t SyncRegisterUser(const CloudKeys &keys)
{
    AccountSignIn account(keys);
    uint32_t status;
    return account.Open(&status);
}

int32_t SyncSignIn(const CloudKeys &keys, SignInFailure *failure)
{
    AccountSignIn account(keys);
    uint32_t status;
    int32_t id = account.Knock(&status);
    // An unknown name and a wrong value are both 403: only opening tells
    // them apart. The key is tried only once the name turns out taken, so
    // that a new account still costs one failed attempt, not two.
    if (status == 403)
        id = account.Open(&status);
    if (status == 409 && account.MayBeOpenedWithKey()) {
        uint32_t keyStatus;
        id = account.KnockWithKey(&keyStatus);
        status = IsBusy(keyStatus) ? keyStatus : status;
    }
    if (id < 1)
        *failure = IsBusy(status) ? SIGNIN_BUSY : status == 409 ? SIGNIN_NAME_TAKEN : SIGNIN_REFUSED;
    return id;
}

int SyncGetClipList(int32_t userId, char *body, size_t size)
{
    Form form({{"act", "list"}, {"UserID", IdText(userId).text}});
    if (SyncHttpGet(form, body, size) != 200)
        return -1;
    return static_cast<int>(std::min<size_t>(strlen(body), INT_MAX));
}

int32_t SyncCreateClip(int32_t userId, const char *name, UploadResult *result)
{
    char reply[UPLOAD_REPLY_EXTRA];
    int32_t dataId = -1;
    const bool answered = CreateClip(userId, name, reply, sizeof reply, &dataId);
    if (dataId == -1)
        UploadFailed(answered ? "Failed to get the DataID!" : reply, result);
    else
        result->created = dataId;
    return dataId;
}

int SyncUploadParts(int32_t userId, int32_t dataId, bool fresh, const char *text, const char *rtf,
                    const char *html, UploadResult *result)
{
    text = text ? text : "";
    rtf = rtf ? rtf : "";
    html = html ? html : "";
    size_t longest = std::max({strlen(text), strlen(rtf), strlen(html)});
    size_t size = longest + UPLOAD_REPLY_EXTRA;
    HeapPtr<char> reply(static_cast<char *>(xmalloc(size)));
    if (!reply)
        return UploadFailed("not enough memory", result);
    if (!PostPart(userId, dataId, "ClipUTF", text, reply.get(), size) ||
        ((*rtf || !fresh) && !PostPart(userId, dataId, "ClipRTF", rtf, reply.get(), size)) ||
        ((*html || !fresh) && !PostPart(userId, dataId, "ClipHTML", html, reply.get(), size)))
        return UploadFailed(reply.get(), result);
    return 1;
}

int SyncGetClipSize(int32_t userId, int32_t dataId, uint32_t *lenUTF, uint32_t *lenRTF, uint32_t *lenHTML)
{
    Form form({{"act", "check"}, {"UserID", IdText(userId).text}, {"DataID", IdText(dataId).text}});
    char body[CHECK_REPLY_SIZE];
    if (SyncHttpGet(form, body, sizeof body) != 200)
        return -1;
    return ParseClipSize(body, lenUTF, lenRTF, lenHTML);
}

int SyncGetClipData(int32_t userId, int32_t dataId, char *text, size_t textSize, char *rtf, size_t rtfSize,
                    char *html, size_t htmlSize)
{
    size_t largest = std::max({textSize, rtfSize, htmlSize});
    if (largest > SIZE_MAX - DATA_REPLY_EXTRA)
        return -1;
    size_t size = largest + DATA_REPLY_EXTRA;
    HeapPtr<char> reply(static_cast<char *>(xmalloc(size)));
    if (!reply)
        return -1;
    GetPart(userId, dataId, "ClipUTF", text, textSize, reply.get(), size);
    if (rtf)
        GetPart(userId, dataId, "ClipRTF", rtf, rtfSize, reply.get(), size);
    if (html)
        GetPart(userId, dataId, "ClipHTML", html, htmlSize, reply.get(), size);
    return textSize ? static_cast<int>(std::min<size_t>(strlen(text), INT_MAX)) : 0;
}

int32_t SyncRenameClip(int32_t userId, int32_t dataId, const char *name, SyncFailure *failure)
{
    return ChangeRequest(Form({{"UserID", IdText(userId).text},
                               {"DataID", IdText(dataId).text},
                               {"act", "rename"},
                               {"ClipName", name}}),
                         "Rename", failure);
}

int32_t SyncDeleteClip(int32_t userId, int32_t dataId, SyncFailure *failure)
{
    return ChangeRequest(
        Form({{"UserID", IdText(userId).text}, {"DataID", IdText(dataId).text}, {"act", "delete"}}), "Delete",
        failure);
}
