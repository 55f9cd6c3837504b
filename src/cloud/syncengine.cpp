#include "syncengine.h"
#include "wire.h"
#include "clippings/clipentry.h"

namespace {

// Stands for a cloud date the run could not learn.
const char UNKNOWN_DATE[] = "?";

enum class Act { UNCHANGED, UPLOAD, UPLOAD_NEW, DOWNLOAD, DELETE_LOCAL, CONFLICT, NONE };

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        x = x >= 'A' && x <= 'Z' ? char(x + 32) : x;
        y = y >= 'A' && y <= 'Z' ? char(y + 32) : y;
        if (x != y)
            return false;
    }
    return true;
}

// The old rule, for a clipping stored before marks existed: dates of two
// clocks and the last run's time, once.
Act LegacyAct(const SyncLocal &local, const SyncCloud &cloud, const std::string &lastSync)
{
    switch (DecideSync(cvtDatetime(cloud.date.c_str()), cvtDatetime(local.lastUpdate.c_str()),
                       cvtDatetime(lastSync.c_str()), cloud.state)) {
    case SYNC_UPDATE_CLOUD:
        return Act::UPLOAD;
    case SYNC_UNCHANGED:
        return Act::UNCHANGED;
    case SYNC_DOWNLOAD:
        return Act::DOWNLOAD;
    case SYNC_DELETE_LOCAL:
        return Act::DELETE_LOCAL;
    case SYNC_NOTHING:
        break;
    }
    return Act::NONE;
}

Act MarkedAct(const SyncLocal &local, const SyncCloud &cloud)
{
    // A clipping never synchronised whose name a cloud clip has: two
    // versions that neither side has seen, so both are kept.
    if (local.mark.cloudId == 0)
        return Act::CONFLICT;
    const bool localChanged = local.mark.localUpdate != local.lastUpdate;
    const bool cloudChanged = local.mark.cloudDate != cloud.date;
    if (cloud.state == 'X')
        return localChanged ? Act::UPLOAD : cloudChanged ? Act::DELETE_LOCAL : Act::UNCHANGED;
    if (localChanged && cloudChanged)
        return Act::CONFLICT;
    return localChanged ? Act::UPLOAD : cloudChanged ? Act::DOWNLOAD : Act::UNCHANGED;
}

class Run {
public:
    Run(SyncStore &store, SyncCloudApi &cloud, const std::string &lastSync, SyncStep step, void *context,
        SyncReport &report)
        : m_store(store), m_cloud(cloud), m_lastSync(lastSync), m_step(step), m_context(context),
          m_report(report)
    {
    }

    bool Go()
    {
        if (!m_cloud.List(&m_clips))
            return false;
        m_locals = m_store.Load();
        m_count = m_locals.size();
        ForgetAnotherServicesMarks();
        m_paired.assign(m_clips.size(), false);
        Pair();
        m_total = unsigned(m_locals.size());
        for (size_t c = 0; c < m_clips.size(); c++)
            m_total += !m_paired[c] && m_clips[c].state == 'A';
        for (size_t i = 0; i < m_locals.size(); i++)
            Handle(m_locals[i], m_cloudOf[i]);
        for (size_t c = 0; c < m_clips.size(); c++)
            if (!m_paired[c] && m_clips[c].state == 'A')
                Fetch(m_clips[c]);
        WriteMarks();
        return true;
    }

private:
    // A mark to write once the run knows the cloud's date for it.
    struct Pending {
        uint32_t slot;
        int32_t id;
        std::string localUpdate, cloudDate; // an empty date: the one listed after the run
    };

    int FindById(int32_t id) const
    {
        for (size_t c = 0; c < m_clips.size(); c++)
            if (m_clips[c].id == id)
                return int(c);
        return -1;
    }

    int FindUnpairedByName(const std::string &name, bool presentOnly) const
    {
        for (size_t c = 0; c < m_clips.size(); c++)
            if (!m_paired[c] && SameName(m_clips[c].name, name) && (!presentOnly || m_clips[c].state == 'A'))
                return int(c);
        return -1;
    }

    // Marks of which the list knows no id at all come from another service
    // (a new "ServerHost", or one that lost its data): the clippings are
    // paired by name once, as those stored before marks existed.
    void ForgetAnotherServicesMarks()
    {
        bool known = false;
        for (const SyncLocal &local : m_locals)
            known = known || (local.marked && local.mark.cloudId > 0 && FindById(local.mark.cloudId) >= 0);
        for (SyncLocal &local : m_locals)
            if (!known && local.marked && local.mark.cloudId > 0)
                local.marked = false;
    }

    // A cloud clip goes with one clipping at most: by id first, then by name
    // for clippings without a cloud id.
    void Pair()
    {
        m_cloudOf.assign(m_locals.size(), -1);
        for (size_t i = 0; i < m_locals.size(); i++) {
            const SyncLocal &local = m_locals[i];
            const int c = local.marked && local.mark.cloudId > 0 ? FindById(local.mark.cloudId) : -1;
            if (c >= 0 && !m_paired[c]) {
                m_cloudOf[i] = c;
                m_paired[c] = true;
            }
        }
        for (size_t i = 0; i < m_locals.size(); i++) {
            const SyncLocal &local = m_locals[i];
            if (local.marked && local.mark.cloudId > 0)
                continue;
            const int c = FindUnpairedByName(local.name, local.marked);
            if (c >= 0) {
                m_cloudOf[i] = c;
                m_paired[c] = true;
            }
        }
    }

    void Step(const char *format, const std::string &name)
    {
        m_step(m_context, format, name, CalcPct(++m_done, m_total));
    }

    // Whether a clip present in the cloud or another clipping has the name.
    bool NameTaken(const std::string &name, const SyncLocal *except) const
    {
        for (const SyncCloud &clip : m_clips)
            if (clip.state == 'A' && SameName(clip.name, name))
                return true;
        for (const SyncLocal &other : m_locals)
            if (&other != except && SameName(other.name, name))
                return true;
        return false;
    }

    // The first numbered form of `name` that no clip and no clipping has.
    std::string FreeName(const std::string &name) const
    {
        char numbered[CLIPNAME_MAX + 1];
        for (unsigned n = 1;; n++) {
            NumberedClipName(name.c_str(), n, numbered);
            if (!NameTaken(numbered, nullptr))
                return numbered;
        }
    }

    // A clip the list no longer holds is not present in the cloud: deleted
    // long enough ago that the list has no room for it, or lost by the
    // service. Either way the clipping stays here, and goes up again only
    // when it changes: deleting it could lose the last copy, and uploading
    // it would undo a deletion.
    static Act ActWithoutClip(const SyncLocal &local)
    {
        const bool unchanged =
            local.marked && local.mark.cloudId > 0 && local.mark.localUpdate == local.lastUpdate;
        return unchanged ? Act::UNCHANGED : Act::UPLOAD_NEW;
    }

    void Handle(SyncLocal &local, int c)
    {
        const Act act = c < 0          ? ActWithoutClip(local)
                        : local.marked ? MarkedAct(local, m_clips[c])
                                       : LegacyAct(local, m_clips[c], m_lastSync);
        switch (act) {
        case Act::UNCHANGED:
            Step("Clip '%s' unchanged.", local.name);
            m_report.unchanged++;
            if (!local.marked && c >= 0)
                m_pending.push_back({local.slot, m_clips[c].id, local.lastUpdate, m_clips[c].date});
            break;
        case Act::UPLOAD:
            Step("Updating '%s' on the server.", local.name);
            // A clip revived from a deletion keeps the name it has in the
            // cloud, which the other PCs know it by.
            if (Upload(local, m_clips[c].id) && local.name != m_clips[c].name)
                m_store.Rename(local.slot, m_clips[c].name);
            break;
        case Act::UPLOAD_NEW:
            Step("Uploading '%s' to the server.", local.name);
            UploadNew(local);
            break;
        case Act::DOWNLOAD:
            Step("Downloading '%s' from the server.", m_clips[c].name);
            Download(m_clips[c], int(local.slot), local.name);
            break;
        case Act::DELETE_LOCAL:
            Step("Deleting the local clipping '%s'.", local.name);
            if (m_store.Delete(local.slot)) {
                m_report.deleted++;
                m_count--;
            } else {
                m_report.failed.push_back(local.name);
            }
            break;
        case Act::CONFLICT:
            Step("Keeping both versions of '%s'.", local.name);
            KeepBoth(local, m_clips[c]);
            break;
        case Act::NONE:
            break;
        }
    }

    // An upload that was cut short keeps the new clip's id with an empty
    // "LastUpdate", so that the next run finishes it on that clip instead of
    // creating another, or keeps both if another PC changed it meanwhile.
    bool Upload(const SyncLocal &local, int32_t id)
    {
        int32_t created = 0;
        if (m_cloud.Upload(local.slot, id, &created)) {
            m_report.uploaded++;
            m_pending.push_back({local.slot, id ? id : created, local.lastUpdate, ""});
            return true;
        }
        m_report.failed.push_back(local.name);
        if (!id && created)
            m_pending.push_back({local.slot, created, "", ""});
        return false;
    }

    // Two clips of one name would be paired by name alike on other PCs: a
    // clipping whose name is taken is numbered first.
    void UploadNew(SyncLocal &local)
    {
        if (NameTaken(local.name, &local)) {
            const std::string name = FreeName(local.name);
            if (!m_store.Rename(local.slot, name)) {
                m_report.failed.push_back(local.name);
                return;
            }
            local.name = name;
        }
        Upload(local, 0);
    }

    // Into the clipping's slot, or a new one when `slot` is negative.
    bool Download(const SyncCloud &clip, int slot, const std::string &localName)
    {
        uint32_t landed = 0;
        std::string lastUpdate;
        if (!m_cloud.Download(clip.id, clip.name, slot, &landed, &lastUpdate)) {
            m_report.failed.push_back(slot < 0 ? clip.name : localName);
            return false;
        }
        m_report.downloaded++;
        m_pending.push_back({landed, clip.id, lastUpdate, clip.date});
        return true;
    }

    // A cloud clip no clipping goes with.
    void Fetch(const SyncCloud &clip)
    {
        if (m_count >= MAX_CLIPPINGS) {
            Step("Skipping '%s' - local storage full.", clip.name);
            m_report.skipped++;
            return;
        }
        Step("Downloading '%s' from the server.", clip.name);
        m_count += Download(clip, -1, clip.name);
    }

    // Changed on both sides: the cloud's version is renamed there and comes
    // here as a clipping of its own, and this PC's goes up under its name.
    // Without room for the copy nothing is overwritten, and the next run
    // tries again.
    void KeepBoth(SyncLocal &local, SyncCloud &clip)
    {
        if (m_count >= MAX_CLIPPINGS) {
            m_report.unsolved.push_back(local.name);
            return;
        }
        const std::string copy = FreeName(clip.name);
        if (!m_cloud.Rename(clip.id, copy)) {
            m_report.failed.push_back(local.name);
            return;
        }
        clip.name = copy;
        clip.date.clear(); // renamed: its date is the one listed after the run
        if (!Download(clip, -1, copy))
            return;
        m_count++;
        m_report.conflicts.push_back(local.name);
        // The copy now goes with the cloud clip; this clipping with none,
        // also when its upload below fails.
        local.mark = {};
        local.marked = true;
        m_store.Mark(local.slot, local.mark);
        UploadNew(local);
    }

    // Marks are written only for transfers that completed, with the dates
    // the cloud listed: a download's as it was downloaded, an upload's as
    // listed once the run is over.
    void WriteMarks()
    {
        std::vector<SyncCloud> after;
        bool listed = false;
        for (const Pending &p : m_pending)
            if (p.cloudDate.empty() && !listed)
                listed = m_cloud.List(&after);
        for (const Pending &p : m_pending) {
            std::string date = p.cloudDate;
            for (size_t c = 0; date.empty() && c < after.size(); c++)
                if (after[c].id == p.id)
                    date = after[c].date;
            // A date no clip has: the next run finds the cloud changed and
            // brings the clip down again, which loses nothing.
            m_store.Mark(p.slot, {p.id, date.empty() ? UNKNOWN_DATE : date, p.localUpdate});
        }
    }

    SyncStore &m_store;
    SyncCloudApi &m_cloud;
    const std::string &m_lastSync;
    SyncStep m_step;
    void *m_context;
    SyncReport &m_report;
    std::vector<SyncLocal> m_locals;
    std::vector<SyncCloud> m_clips;
    std::vector<bool> m_paired;
    std::vector<int> m_cloudOf;
    std::vector<Pending> m_pending;
    size_t m_count = 0;
    unsigned m_done = 0, m_total = 0;
};

} // namespace

bool RunSynchronisation(SyncStore &store, SyncCloudApi &cloud, const std::string &lastSync, SyncStep step,
                        void *context, SyncReport *report)
{
    return Run(store, cloud, lastSync, step, context, *report).Go();
}
