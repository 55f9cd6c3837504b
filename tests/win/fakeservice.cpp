#include "fakeservice.h"
#include "cloud/wire.h"
#include "settings/registry.h"
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>

namespace {

const char *const FIELDS[] = {"ClipUTF", "ClipRTF", "ClipHTML"};

std::string FormDecode(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += char(strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else
            out += text[i] == '+' ? ' ' : text[i];
    }
    return out;
}

std::map<std::string, std::string> ParseForm(const std::string &form)
{
    std::map<std::string, std::string> pairs;
    for (size_t start = 0, end; start < form.size(); start = end + 1) {
        end = std::min(form.find('&', start), form.size());
        size_t eq = form.find('=', start);
        if (eq < end)
            pairs[FormDecode(form.substr(start, eq - start))] = FormDecode(form.substr(eq + 1, end - eq - 1));
    }
    return pairs;
}

std::string Now()
{
    time_t now = time(nullptr);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", localtime(&now));
    return text;
}

// Forward: scrambled, then CR LF encoded, as the program sends a part.
std::string Scramble(std::string text, const std::string &key, bool forward)
{
    uint8_t rol[ROL_KEY_MAX];
    RolString(forward, &text[0], rol, DeriveRolKey(key.c_str(), rol, sizeof rol));
    char *coded = forward ? EncodeCRLF(text.c_str()) : DecodeCRLF(text.c_str());
    text = coded;
    free(coded);
    return text;
}

} // namespace

FakeService::FakeService()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in loopback = {};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof loopback;
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    if (bind(m_listener, reinterpret_cast<sockaddr *>(&loopback), length) == 0 &&
        getsockname(m_listener, reinterpret_cast<sockaddr *>(&loopback), &length) == 0 &&
        listen(m_listener, 4) == 0)
        WriteSettingsStringA(nullptr, "ServerHost",
                             ("127.0.0.1:" + std::to_string(ntohs(loopback.sin_port))).c_str());
    m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

// Closing the listener ends the thread's accept.
FakeService::~FakeService()
{
    m_ending = true;
    Open();
    closesocket(m_listener);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    WSACleanup();
}

int32_t FakeService::AddAccount(const std::string &name, const std::string &key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const int32_t id = 101 + (int32_t)m_accounts.size();
    m_accounts[id] = {name, key, {}};
    return id;
}

int32_t FakeService::SignIn(bool known)
{
    WriteSettingsStringA(nullptr, "AccountName", "ann");
    WriteSettingsStringA(nullptr, "AccountKey", "Secret99key");
    return known ? AddAccount("ann", "Secret99key") : 0;
}

void FakeService::AddClip(int32_t user, int32_t id, const std::string &name, const std::string &date,
                          char state, const std::string &text, const std::string &rtf)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Account &account = m_accounts[user];
    account.clips.push_back({id, name, date, state, {Scramble(text, account.key, true), ""}});
    if (!rtf.empty())
        account.clips.back().parts[PART_RTF] = Scramble(rtf, account.key, true);
}

std::vector<FakeClip> FakeService::Clips(int32_t user)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_accounts[user].clips;
}

std::string FakeService::Plain(int32_t user, int32_t id, CloudPart part)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (const FakeClip &clip : m_accounts[user].clips)
        if (clip.id == id)
            return Scramble(clip.parts[part], m_accounts[user].key, false);
    return "<no clip>";
}

void FakeService::Fail(std::set<std::string> acts)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_fail = std::move(acts);
}

void FakeService::Break(const std::string &act, Fault fault)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_breaks[act] = fault;
}

void FakeService::Gate(const std::string &act)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_gate = act;
}

void FakeService::Open()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_gate.clear();
}

std::vector<std::string> FakeService::Acts()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_acts;
}

// One request per connection, read up to the client's half-close.
DWORD WINAPI FakeService::Run(void *self)
{
    auto *service = static_cast<FakeService *>(self);
    for (SOCKET client; (client = accept(service->m_listener, nullptr, nullptr)) != INVALID_SOCKET;) {
        std::string request;
        char buf[4096];
        for (int got; (got = recv(client, buf, sizeof buf, 0)) > 0;)
            request.append(buf, got);
        int status = 200;
        Fault fault = Fault::None;
        const std::string body = service->Answer(request, &status, &fault);
        const std::string reply = "HTTP/1.1 " + std::to_string(status) +
                                  " X\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body;
        service->Reply(client, reply, body.size(), fault);
    }
    return 0;
}

void FakeService::Reply(SOCKET client, const std::string &reply, size_t body, Fault fault)
{
    static std::mt19937 random(7);
    std::string sent = reply;
    if (fault == Fault::Reset) {
        sent.resize(reply.size() - body / 2);
    } else if (fault == Fault::Killed || fault == Fault::Silent) {
        sent.clear();
    } else if (fault == Fault::Garbage) {
        sent = "HTTP/1.1 200 OK\r\n\r\n";
        for (int i = 0; i < 600; i++)
            sent += static_cast<char>(random());
    }
    send(client, sent.data(), (int)sent.size(), 0);
    while (fault == Fault::Silent && !m_ending)
        Sleep(20);
    if (fault == Fault::Reset || fault == Fault::Killed) {
        Sleep(50); // what was sent arrives before the reset
        const linger abort = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort), sizeof abort);
    }
    closesocket(client);
}

// The form is the query of a GET, the body (of Content-Length) of a POST.
std::string FakeService::Answer(const std::string &request, int *status, Fault *fault)
{
    const size_t query = request.find('?'), end = request.find(" HTTP/");
    const size_t body = request.find("\r\n\r\n"), length = request.find("Content-Length: ");
    Form form = ParseForm(request.compare(0, 5, "POST ") != 0 ? request.substr(query + 1, end - query - 1)
                          : length < body ? request.substr(body + 4, atoi(request.c_str() + length + 16))
                                          : "");
    const std::string act = form["act"];
    std::unique_lock<std::mutex> guard(m_lock);
    m_acts.push_back(act);
    while (act == m_gate) {
        m_waiting = true;
        guard.unlock();
        Sleep(10);
        guard.lock();
    }
    m_waiting = false;
    m_killed = m_killed || m_breaks[act] == Fault::Killed;
    *fault = m_killed ? Fault::Killed : m_breaks[act];
    if (m_killed)
        return ""; // died before doing the act
    *status = m_fail.count(act) ? 500 : 200;
    return *status == 200 ? Act(form, status) : "failure";
}

std::string FakeService::Act(Form &form, int *status)
{
    const std::string &act = form["act"];
    if (act == "knock" || act == "open") {
        for (auto &account : m_accounts)
            if (account.second.name == form["name"]) {
                const bool known = act == "knock" && account.second.key == form["key"];
                *status = known ? 200 : act == "knock" ? 403 : 409;
                return known ? "<UserID>" + std::to_string(account.first) + "</UserID>" : "refused";
            }
        if (act == "open") {
            const int32_t id = 101 + (int32_t)m_accounts.size();
            m_accounts[id] = {form["name"], form["key"], {}};
            return "<UserID>" + std::to_string(id) + "</UserID>";
        }
    }
    auto account = m_accounts.find(atoi(form["UserID"].c_str()));
    if (account != m_accounts.end() && act == "list") {
        std::string lines;
        for (const FakeClip &clip : account->second.clips)
            lines += std::to_string(clip.id) + "=" + clip.name + ";" + clip.date + ";" + clip.state + "\r\n";
        return lines.empty() ? "<Clips />" : "<Clips>\r\n" + lines + "</Clips>\r\n";
    }
    if (account != m_accounts.end() && act == "create") {
        account->second.clips.push_back({m_nextClip, form["ClipName"], Now(), 'A', {}});
        return "DataID=" + std::to_string(m_nextClip++) + "\r\n";
    }
    if (account != m_accounts.end())
        for (FakeClip &clip : account->second.clips)
            if (clip.id == atoi(form["DataID"].c_str()))
                return ClipAct(clip, form);
    *status = 404;
    return "not found";
}

std::string FakeService::ClipAct(FakeClip &clip, Form &form)
{
    const std::string &act = form["act"];
    const int part = form["field"] == FIELDS[PART_RTF]    ? PART_RTF
                     : form["field"] == FIELDS[PART_HTML] ? PART_HTML
                                                          : 0;
    if (act == "check")
        return "<Check>\r\nlenUTF=" + std::to_string(clip.parts[0].size()) +
               "\r\nlenRTF=" + std::to_string(clip.parts[1].size()) +
               "\r\nlenHTML=" + std::to_string(clip.parts[2].size()) + "\r\n</Check>\r\n";
    if (act == "getdata")
        return std::string("<Data>\r\n") + FIELDS[part] + "=" + clip.parts[part] + "\r\n</Data>\r\n";
    clip.date = Now();
    if (act == "setdata")
        clip.parts[part] = form["data"];
    else if (act == "rename")
        clip.name = form["ClipName"];
    else if (act == "delete")
        clip.state = 'X';
    const std::string tag = act == "rename" ? "Rename" : act == "delete" ? "Delete" : "SetData";
    return "<" + tag + ">1</" + tag + ">";
}
