// The HTTP client reading a chunked reply, and a whole synchronisation of
// ten clippings against the sync service.
#include <winsock2.h>
#include <ws2tcpip.h>
#include "bench.h"
#include <cstdio>
#include <cstring>
#include <vector>
#include "clippings/store.h"
#include "cloud/clipcrypt.h"
#include "cloud/sync.h"
#include "cloud/syncproto.h"
#include "net/http.h"
#include "net/httpreply.h"
#include "settings/registry.h"

namespace {

// The message box that ends a synchronisation, noted by a watcher thread
// when it appears, and closed.
struct EndBox {
    DWORD thread;
    double shown;
    char caption[64];
    char text[512];
};

BOOL CALLBACK FindEndBox(HWND hwnd, LPARAM param)
{
    auto *box = reinterpret_cast<EndBox *>(param);
    char cls[16] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(hwnd) || !GetDlgItem(hwnd, 0xFFFF))
        return TRUE;
    box->shown = Seconds();
    GetWindowTextA(hwnd, box->caption, sizeof box->caption);
    GetDlgItemTextA(hwnd, 0xFFFF, box->text, sizeof box->text);
    PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
    return FALSE;
}

DWORD WINAPI WatchForEndBox(void *param)
{
    auto *box = static_cast<EndBox *>(param);
    for (int i = 0; i < 30000 && box->shown == 0; i++) {
        EnumThreadWindows(box->thread, FindEndBox, reinterpret_cast<LPARAM>(box));
        Sleep(1);
    }
    return 0;
}

// The time until the summary appears; -1 when it did not say `expected`.
double TimeSync(const char *expected)
{
    EndBox box = {GetCurrentThreadId(), 0, "", ""};
    HANDLE watcher = CreateThread(nullptr, 0, WatchForEndBox, &box, 0, nullptr);
    const double start = Seconds();
    SyncClips(nullptr);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    if (!strstr(box.text, expected)) {
        fprintf(stderr, "sync: \"%s\" said: %s\n", box.caption, box.text);
        return -1;
    }
    return box.shown - start;
}

void UseAccount(const char *host, const std::string &name)
{
    WriteSettingsStringA(nullptr, "ServerHost", host);
    WriteSettingsStringA(nullptr, "AccountName", name.c_str());
    WriteSettingsStringA(nullptr, "AccountKey", "Bench4Sync2026xyz");
}

// The same request made with plain Winsock calls in this process, reading
// until the close in receives as large as the client's: what the system
// itself costs here.
double PlainExchange(const char *server, const char *path)
{
    std::string host = server;
    const size_t colon = host.rfind(':');
    const std::string port = host.substr(colon + 1);
    host.resize(colon);
    WSADATA wsa;
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return -1;
    const std::string request = std::string("GET ") + path + "? HTTP/1.1\r\nHost: " + server + "\r\n\r\n";
    std::vector<char> buffer(RECV_MAX);
    size_t received = 0;
    const double seconds = Best(6 * RUNS, [&] {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen));
        send(s, request.data(), static_cast<int>(request.size()), 0);
        shutdown(s, SD_SEND);
        int n;
        for (received = 0; (n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0)) > 0;)
            received += size_t(n);
        closesocket(s);
    });
    freeaddrinfo(found);
    WSACleanup();
    return received > MB ? seconds : -1;
}

} // namespace

// argv: the server ("host:port") and the path that answers 1 MB chunked.
int BenchHttp(int, char **argv)
{
    WriteSettingsStringA(nullptr, "ServerHost", argv[0]);
    std::string body(2 * MB, '\0');
    uint32_t status = 0;
    // Short and easily disturbed: many runs.
    const double seconds = Best(6 * RUNS, [&] { status = DoHttpGet(argv[1], "", &body[0], body.size()); });
    if (status != 200 || strlen(body.c_str()) != MB)
        fprintf(stderr, "http: status %u, %zu bytes\n", status, strlen(body.c_str()));
    Figure("http", seconds);
    Figure("http.win32", PlainExchange(argv[0], argv[1]));
    return 0;
}

// argv[0]: the sync service ("host:port", or "https://host:port" with its
// certificate's fingerprint in argv[1] and the figures' prefix in argv[2]).
int BenchSync(int argc, char **argv)
{
    const std::string account = "bench" + std::to_string(GetTickCount());
    const std::string prefix = argc >= 3 ? argv[2] : "sync";
    const auto useAccount = [&] {
        UseAccount(argv[0], account);
        if (argc >= 2)
            WriteSettingsStringA(nullptr, "ServerFingerprint", argv[1]);
    };
    useAccount();
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    if (SyncRegisterUser(keys) < 1) {
        fprintf(stderr, "sync: no account at %s\n", argv[0]);
        return 1;
    }
    // Ten clippings of a few kilobytes, each with rich text and HTML.
    const std::wstring text(2000, L'x');
    const std::string rtf = "{\\rtf1 " + std::string(2000, 'r') + "}";
    const std::string html = "<p>" + std::string(2000, 'h') + "</p>";
    for (int i = 0; i < MAX_CLIPPINGS; i++)
        StoreClipping(("Clipping " + std::to_string(i)).c_str(), FALSE, text.c_str(), rtf.c_str(),
                      html.c_str());
    Figure((prefix + ".upload").c_str(), TimeSync("  10 Clips uploaded"));
    // Another PC on the same account, with nothing stored yet.
    ResetProgramState();
    useAccount();
    Figure((prefix + ".download").c_str(), TimeSync("  10 Clips downloaded"));
    return 0;
}
