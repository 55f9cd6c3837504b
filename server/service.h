#pragma once
// The update check and the sync acts, from a parsed request to a reply body:
// status 200 with the reply forms the client reads, or another status with
// one line of text that the client shows in its error message.
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include "accounts.h"
#include "request.h"
#include "store.h"
#include "throttle.h"

constexpr char VCHK_PATH[] = "/software/vercheck.php";
constexpr char SYNC_PATH[] = "/software/quillet/qlsync.php";

struct ServiceConfig {
    int releaseMajor = 6;
    int releaseMinor = 0;
    int releaseBuild = 200;
    std::string releaseDate = "12 Feb 2018";
    int maxClips = 10; // present clips per account; as many deletions are kept
    // Bytes of one stored part: 1 MiB of clipping sealed by the client (a
    // 5-character marker, then base64 of it with a 12-byte nonce and a
    // 16-byte tag).
    size_t maxPart = 1398144;
    AccountConfig accounts;
    int freeFailures = 5; // failed knocks and unknown ids per address before it is slowed down
    int maxLockSeconds = 300;
    int accountsPerAddress = 5; // new accounts per address in a window
    int accountsInAll = 60;     // new accounts from all addresses in a window
    int accountWindowSeconds = 3600;
    FILE *log = stderr; // failures, one line each; null for none
};

struct Reply {
    int status;
    std::string body;
};

class Service {
public:
    Service(Store &store, const ServiceConfig &config);
    Reply Handle(const HttpRequest &request, const std::string &peer);

private:
    struct Ids {
        uint32_t user;
        uint32_t clip;
    };
    struct Act {
        const char *name;
        bool needsClip;
        Reply (Service::*run)(const Form &form, Ids ids);
    };
    static const Act ACTS[];

    Reply Route(const HttpRequest &request, const std::string &peer, const char **act);
    Reply Version(const Form &form) const;
    Reply Account(const Form &form, const std::string &peer, bool open);
    Reply RunAct(const Act &act, const Form &form, const std::string &peer);
    Reply List(const Form &form, Ids ids);
    Reply Create(const Form &form, Ids ids);
    Reply SetData(const Form &form, Ids ids);
    Reply Check(const Form &form, Ids ids);
    Reply GetData(const Form &form, Ids ids);
    Reply Rename(const Form &form, Ids ids);
    Reply Delete(const Form &form, Ids ids);
    void Log(const std::string &peer, const char *act, const Reply &reply);
    std::string NewToken(uint32_t user, time_t now);

    Store &m_store;
    const ServiceConfig m_config;
    Accounts m_accounts;
    Throttle m_throttle;
    RateLimit m_creations;
    std::mutex m_logLock;
    time_t m_logSecond = 0;
    int m_logLines = 0, m_logDropped = 0;
};

// The service's dates: local time as "%Y-%m-%d %H:%M:%S".
std::string LocalDate(time_t when);
