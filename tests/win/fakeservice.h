#pragma once
// An in-memory sync service on a loopback thread of the test; "ServerHost"
// points the program at it while it exists. It answers knock, open, list,
// create, setdata, check, getdata, rename and delete as the real service
// does, keeps each part as it arrived (scrambled, CR LF encoded), and lets a
// test seed accounts and clips, read them back, make acts fail (status 500)
// or break off, or hold one act's requests at a gate.
#include <winsock2.h>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

enum CloudPart { PART_UTF, PART_RTF, PART_HTML };

// How an act breaks off: its reply reset halfway through the body, no answer
// until the service ends, status 200 with random bytes, or the service
// killed (this connection and every later one reset, no act done).
enum class Fault { None, Reset, Silent, Garbage, Killed };

struct FakeClip {
    int32_t id;
    std::string name, date; // date as "%Y-%m-%d %H:%M:%S"
    char state;             // 'A' present, 'X' deleted
    std::string parts[3];
};

class FakeService {
public:
    FakeService();
    ~FakeService();
    FakeService(const FakeService &) = delete;
    FakeService &operator=(const FakeService &) = delete;

    // A new account; its user id.
    int32_t AddAccount(const std::string &name, const std::string &key);
    // Makes "ann" the program's account, and with `known` the service's.
    int32_t SignIn(bool known = true);
    // A clip with its text and rich text scrambled as the program sends them.
    void AddClip(int32_t user, int32_t id, const std::string &name, const std::string &date, char state = 'A',
                 const std::string &text = "text", const std::string &rtf = "");
    std::vector<FakeClip> Clips(int32_t user);
    // A part of a clip, unscrambled.
    std::string Plain(int32_t user, int32_t id, CloudPart part);

    void Fail(std::set<std::string> acts);
    void Break(const std::string &act, Fault fault);
    // Requests of this act wait until Open(); Waiting() while one does.
    void Gate(const std::string &act);
    bool Waiting() const { return m_waiting; }
    void Open();
    // The act of every request, in order of arrival.
    std::vector<std::string> Acts();

private:
    using Form = std::map<std::string, std::string>;
    struct Account {
        std::string name, key;
        std::vector<FakeClip> clips;
    };

    static DWORD WINAPI Run(void *self);
    std::string Answer(const std::string &request, int *status, Fault *fault);
    void Reply(SOCKET client, const std::string &reply, size_t body, Fault fault);
    std::string Act(Form &form, int *status);
    std::string ClipAct(FakeClip &clip, Form &form);

    SOCKET m_listener = INVALID_SOCKET;
    HANDLE m_thread = nullptr;
    std::atomic<bool> m_waiting{false}, m_ending{false};
    bool m_killed = false;
    std::mutex m_lock;
    std::map<int32_t, Account> m_accounts;
    std::vector<std::string> m_acts;
    std::set<std::string> m_fail;
    std::map<std::string, Fault> m_breaks;
    std::string m_gate;
    int32_t m_nextClip = 900;
};
