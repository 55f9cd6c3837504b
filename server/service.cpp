#include "service.h"

#include <sodium.h>
#include <vector>

namespace {

// The client reads the list into 1024 bytes, its NUL included.
constexpr size_t MAX_LIST_BYTES = 1023;
// The client keeps names in 32 bytes and cuts list lines at bytes outside
// printable ASCII; ';' separates the fields of a list line, and a name with
// '<' or '>' could read as the list's end tag.
constexpr size_t MAX_CLIP_NAME = 31;
constexpr size_t MAX_ACCOUNT_NAME = 128;
constexpr size_t MAX_ACCOUNT_KEY = 256;
constexpr int MAX_LOG_LINES = 20; // failures logged in one second

const char *const PART_FIELDS[] = {"ClipUTF", "ClipRTF", "ClipHTML"};

Reply Error(int status, const char *text)
{
    return {status, text};
}

// 1 to 7 digits without a leading zero.
bool ParseId(const std::string *text, uint32_t *id)
{
    if (!text || text->empty() || text->size() > 7 || (*text)[0] == '0' ||
        text->find_first_not_of("0123456789") != std::string::npos)
        return false;
    *id = uint32_t(std::stoul(*text));
    return true;
}

bool ValidClipName(const std::string *name)
{
    if (!name || name->empty() || name->size() > MAX_CLIP_NAME)
        return false;
    for (char c : *name) {
        if (c < ' ' || c > '~' || c == ';' || c == '<' || c == '>')
            return false;
    }
    return true;
}

bool ValidAccountText(const std::string *text, size_t maxSize, bool controlsAllowed)
{
    if (!text || text->empty() || text->size() > maxSize)
        return false;
    for (unsigned char c : *text) {
        if (!controlsAllowed && (c < ' ' || c == 0x7F))
            return false;
    }
    return true;
}

bool ParsePart(const std::string *field, ClipPart *part)
{
    for (int i = 0; i < 3 && field; i++) {
        if (*field == PART_FIELDS[i]) {
            *part = ClipPart(i);
            return true;
        }
    }
    return false;
}

// 128 random bits as 32 hexadecimal digits; the service keeps only a digest.
std::string RandomToken()
{
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

std::string TokenDigest(const std::string &token)
{
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char *>(token.data()),
                       token.size(), nullptr, 0);
    return std::string(reinterpret_cast<const char *>(digest), sizeof digest);
}

std::string Now()
{
    return LocalDate(time(nullptr));
}

std::string FormatClipList(const std::vector<ClipEntry> &clips)
{
    static const std::string end = "</Clips>\r\n";
    if (clips.empty())
        return "<Clips />";
    std::string body = "<Clips>\r\n";
    for (const ClipEntry &clip : clips) {
        std::string line =
            std::to_string(clip.id) + "=" + clip.name + ";" + clip.date + ";" + clip.state + "\r\n";
        if (body.size() + line.size() + end.size() > MAX_LIST_BYTES)
            break;
        body += line;
    }
    return body + end;
}

} // namespace

std::string LocalDate(time_t when)
{
    struct tm local;
    char text[32];
    localtime_r(&when, &local);
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

const Service::Act Service::ACTS[] = {
    {"list", false, &Service::List},      {"create", false, &Service::Create},
    {"setdata", true, &Service::SetData}, {"check", true, &Service::Check},
    {"getdata", true, &Service::GetData}, {"rename", true, &Service::Rename},
    {"delete", true, &Service::Delete},
};

Service::Service(Store &store, const ServiceConfig &config)
    : m_store(store), m_config(config), m_accounts(store, config.accounts),
      m_throttle(store, config.freeFailures, config.maxLockSeconds),
      m_creations(config.accountsPerAddress, config.accountsInAll, config.accountWindowSeconds)
{
}

Reply Service::Handle(const HttpRequest &request, const std::string &peer)
{
    const char *act = "-";
    Reply reply;
    try {
        reply = Route(request, peer, &act);
    } catch (const StoreError &e) {
        reply = Error(500, "storage failure");
        if (m_config.log)
            fprintf(m_config.log, "%s store: %s\n", Now().c_str(), e.what());
    }
    if (reply.status != 200)
        Log(peer, act, reply);
    return reply;
}

Reply Service::Route(const HttpRequest &request, const std::string &peer, const char **act)
{
    const bool sync = request.path == SYNC_PATH;
    if (!sync && request.path != VCHK_PATH)
        return Error(404, "not found");
    if (request.method != "GET" && request.method != "POST")
        return Error(405, "method not allowed");
    Form form;
    if (!DecodeForm(request.method == "POST" ? request.body : request.query, &form))
        return Error(400, "malformed form data");
    if (!sync)
        return Version(form);
    const std::string *name = FormValue(form, "act");
    if (!name)
        return Error(400, "missing act");
    if (*name == "knock" || *name == "open") {
        *act = *name == "open" ? "open" : "knock";
        return Account(form, peer, *name == "open");
    }
    for (const Act &entry : ACTS) {
        if (*name == entry.name) {
            *act = entry.name;
            return RunAct(entry, form, peer);
        }
    }
    return Error(400, "unknown act");
}

Reply Service::Version(const Form &form) const
{
    const std::string *app = FormValue(form, "app");
    if (!app)
        return Error(400, "missing app");
    if (*app != "Quillet")
        return Error(404, "unknown app");
    return {200, "RelDate=" + m_config.releaseDate + "\r\nVmajor=" + std::to_string(m_config.releaseMajor) +
                     "\r\nVminor=" + std::to_string(m_config.releaseMinor) +
                     "\r\nVbuild=" + std::to_string(m_config.releaseBuild) + "\r\n"};
}

Reply Service::Account(const Form &form, const std::string &peer, bool open)
{
    const std::string *name = FormValue(form, "name");
    const std::string *key = FormValue(form, "key");
    if (!ValidAccountText(name, MAX_ACCOUNT_NAME, false))
        return Error(400, "missing or malformed name");
    if (!ValidAccountText(key, MAX_ACCOUNT_KEY, true))
        return Error(400, "missing or malformed key");
    // Guesses are counted by the name guessed too, so that spreading them
    // over addresses gains nothing.
    const time_t now = time(nullptr);
    const std::string account = "name " + *name;
    if (m_throttle.Locked(peer, now) || m_throttle.Locked(account, now))
        return Error(429, "too many failed attempts, try again later");
    if (open && !m_creations.Allow(peer, now))
        return Error(429, "too many new accounts, try again later");
    AccountResult result = open ? m_accounts.Open(*name, *key) : m_accounts.Knock(*name, *key);
    switch (result.status) {
    case AccountStatus::Ok:
        return {200, "<UserID>" + std::to_string(result.id) + "</UserID><Token>" + NewToken(result.id, now) +
                         "</Token>"};
    case AccountStatus::WrongNameOrKey:
        m_throttle.Failed(peer, now);
        m_throttle.Failed(account, now);
        return Error(403, "wrong account name or key");
    case AccountStatus::NameTaken:
        return Error(409, "account name taken");
    case AccountStatus::Busy:
        break;
    }
    return Error(503, "busy, try again later");
}

// Every act but knock and open names the account by its id alone, so an
// address that sends unknown ids is slowed down like one that guesses keys.
Reply Service::RunAct(const Act &act, const Form &form, const std::string &peer)
{
    if (m_throttle.Locked(peer, time(nullptr)))
        return Error(429, "too many failed attempts, try again later");
    Ids ids = {0, 0};
    if (!ParseId(FormValue(form, "UserID"), &ids.user))
        return Error(400, "missing or malformed UserID");
    // The id alone names the account: only the token of a sign-in shows
    // that the one asking knows its key.
    const time_t now = time(nullptr);
    const std::string *token = FormValue(form, "Token");
    if (!token || !m_store.HasToken(ids.user, TokenDigest(*token), now)) {
        m_throttle.Failed(peer, now);
        return Error(403, "missing or expired Token");
    }
    if (act.needsClip && !ParseId(FormValue(form, "DataID"), &ids.clip))
        return Error(400, "missing or malformed DataID");
    Reply reply = (this->*act.run)(form, ids);
    if (reply.status == 404)
        m_throttle.Failed(peer, time(nullptr));
    return reply;
}

Reply Service::List(const Form &, Ids ids)
{
    std::vector<ClipEntry> clips;
    if (!m_store.ListClips(ids.user, &clips))
        return Error(404, "no such account");
    return {200, FormatClipList(clips)};
}

Reply Service::Create(const Form &form, Ids ids)
{
    const std::string *name = FormValue(form, "ClipName");
    if (!ValidClipName(name))
        return Error(400, "missing or malformed ClipName");
    const std::string date = Now();
    for (int attempt = 0; attempt < 32; attempt++) {
        const uint32_t id = RandomId();
        switch (m_store.AddClip(ids.user, id, *name, date, m_config.maxClips)) {
        case StoreResult::Ok:
            return {200, "DataID=" + std::to_string(id) + "\r\n"};
        case StoreResult::NotFound:
            return Error(404, "no such account");
        case StoreResult::Full:
            return Error(403, "clip limit reached");
        default:
            break;
        }
    }
    return Error(503, "busy, try again later");
}

Reply Service::SetData(const Form &form, Ids ids)
{
    ClipPart part;
    if (!ParsePart(FormValue(form, "field"), &part))
        return Error(400, "missing or malformed field");
    const std::string *data = FormValue(form, "data");
    if (!data)
        return Error(400, "missing data");
    if (data->size() > m_config.maxPart)
        return Error(413, "clip part too large");
    switch (m_store.SetPart(ids.user, ids.clip, part, *data, Now(), m_config.maxClips)) {
    case StoreResult::Ok:
        return {200, "<SetData>1</SetData>"};
    case StoreResult::Full:
        return Error(403, "clip limit reached");
    default:
        return Error(404, "no such clip");
    }
}

Reply Service::Check(const Form &, Ids ids)
{
    ClipSizes sizes;
    if (!m_store.GetSizes(ids.user, ids.clip, &sizes))
        return Error(404, "no such clip");
    return {200, "<Check>\r\nlenUTF=" + std::to_string(sizes.utf) +
                     "\r\nlenRTF=" + std::to_string(sizes.rtf) + "\r\nlenHTML=" + std::to_string(sizes.html) +
                     "\r\n</Check>\r\n"};
}

Reply Service::GetData(const Form &form, Ids ids)
{
    ClipPart part;
    if (!ParsePart(FormValue(form, "field"), &part))
        return Error(400, "missing or malformed field");
    std::string value;
    if (!m_store.GetPart(ids.user, ids.clip, part, &value))
        return Error(404, "no such clip");
    return {200, std::string("<Data>\r\n") + PART_FIELDS[int(part)] + "=" + value + "\r\n</Data>\r\n"};
}

Reply Service::Rename(const Form &form, Ids ids)
{
    const std::string *name = FormValue(form, "ClipName");
    if (!ValidClipName(name))
        return Error(400, "missing or malformed ClipName");
    if (!m_store.Rename(ids.user, ids.clip, *name, Now()))
        return Error(404, "no such clip");
    return {200, "<Rename>1</Rename>"};
}

Reply Service::Delete(const Form &, Ids ids)
{
    if (!m_store.Delete(ids.user, ids.clip, Now(), m_config.maxClips))
        return Error(404, "no such clip");
    return {200, "<Delete>1</Delete>"};
}

std::string Service::NewToken(uint32_t user, time_t now)
{
    const std::string token = RandomToken();
    m_store.AddToken(user, TokenDigest(token), int64_t(now) + TOKEN_LIFE_SECONDS);
    return token;
}

// Names, keys, ids and clip contents stay out of the log. A flood of
// failures writes a few lines a second and says how many it left out.
void Service::Log(const std::string &peer, const char *act, const Reply &reply)
{
    if (!m_config.log)
        return;
    const time_t now = time(nullptr);
    std::lock_guard<std::mutex> lock(m_logLock);
    if (now != m_logSecond) {
        if (m_logDropped)
            fprintf(m_config.log, "%s %d failures not logged\n", Now().c_str(), m_logDropped);
        m_logSecond = now;
        m_logLines = m_logDropped = 0;
    }
    if (++m_logLines > MAX_LOG_LINES) {
        m_logDropped++;
        return;
    }
    fprintf(m_config.log, "%s %s %s %d %s\n", Now().c_str(), peer.c_str(), act, reply.status,
            reply.body.c_str());
}
