// The synchronisation run by three PCs against one service through many
// random interleavings of edits, new clippings, deletions on either side,
// cloud renames, full stores, runs whose transfers fail part-way and clocks
// that disagree by minutes.
#include "cloud/syncengine.h"
#include "clippings/clipentry.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>

namespace {

std::string DateText(long t)
{
    char text[32];
    snprintf(text, sizeof text, "2026-12-%02ld %02ld:%02ld:%02ld", 1 + t / 86400 % 28, t / 3600 % 24,
             t / 60 % 60, t % 60);
    return text;
}

// The service: at most ten present clips, names not unique, every change
// dated later than the clip's previous date.
struct Service {
    struct Clip {
        int32_t id;
        std::string name, content;
        long date;
        char state;
    };
    std::vector<Clip> clips;
    long clock = 100000;
    int32_t nextId = 1;

    Clip *Find(int32_t id)
    {
        auto clip = std::find_if(clips.begin(), clips.end(), [id](const Clip &c) { return c.id == id; });
        return clip == clips.end() ? nullptr : &*clip;
    }
    size_t Present() const
    {
        return std::count_if(clips.begin(), clips.end(), [](const Clip &c) { return c.state == 'A'; });
    }
    void Touch(Clip &clip) { clip.date = std::max(++clock, clip.date + 1); }
};

// One PC: its clippings by slot, a clock of its own, and which clippings
// were last changed by a download.
struct Pc : SyncStore {
    struct Clipping {
        std::string name, content, lastUpdate;
        SyncMark mark;
        bool downloaded = false;
    };
    std::map<uint32_t, Clipping> slots;
    long skew = 0, tick = 0;

    std::string Now(const std::string &previous)
    {
        std::string date = DateText(100000 + skew + ++tick);
        return date > previous ? date : previous + "+";
    }
    int FreeSlot() const
    {
        for (uint32_t slot = 0; slot < MAX_CLIPPINGS; slot++)
            if (!slots.count(slot))
                return int(slot);
        return -1;
    }
    std::vector<SyncLocal> Load() override
    {
        std::vector<SyncLocal> out;
        for (const auto &s : slots)
            out.push_back({s.first, s.second.name, s.second.lastUpdate, true, s.second.mark});
        return out;
    }
    void Mark(uint32_t slot, const SyncMark &mark) override
    {
        if (slots.count(slot))
            slots[slot].mark = mark;
    }
    bool Delete(uint32_t slot) override { return slots.erase(slot) == 1; }
    bool Rename(uint32_t slot, const std::string &name) override
    {
        slots.at(slot).name = name;
        return true;
    }
};

// The service as one PC reaches it; each call fails with a chance.
struct Link : SyncCloudApi {
    Service &service;
    Pc &pc;
    std::mt19937 &random;
    double failure = 0;
    unsigned uploads = 0, downloads = 0, bounces = 0;

    Link(Service &s, Pc &p, std::mt19937 &r) : service(s), pc(p), random(r) {}
    bool Fails() { return std::uniform_real_distribution<>(0, 1)(random) < failure; }

    bool List(std::vector<SyncCloud> *clips) override
    {
        if (Fails())
            return false;
        // Present clips first; deletions only while the reply has room.
        clips->clear();
        for (char state : {'A', 'X'})
            for (const Service::Clip &clip : service.clips)
                if (clip.state == state && clips->size() < 12)
                    clips->push_back({clip.id, clip.name, DateText(clip.date), clip.state});
        return true;
    }
    bool Upload(uint32_t slot, int32_t id, int32_t *created) override
    {
        const Pc::Clipping &local = pc.slots.at(slot);
        if (!id) {
            if (Fails() || service.Present() >= MAX_CLIPPINGS)
                return false;
            service.clips.push_back({service.nextId, local.name, "", 0, 'A'});
            service.Touch(service.clips.back());
            id = *created = service.nextId++;
        }
        Service::Clip *clip = service.Find(id);
        if (!clip || Fails() || (clip->state == 'X' && service.Present() >= MAX_CLIPPINGS))
            return false;
        uploads++;
        bounces += local.downloaded; // it came from the cloud and was not edited since
        clip->content = local.content;
        clip->state = 'A';
        service.Touch(*clip);
        return true;
    }
    bool Download(int32_t id, const std::string &name, int slot, uint32_t *landed,
                  std::string *lastUpdate) override
    {
        Service::Clip *clip = service.Find(id);
        if (slot < 0)
            slot = pc.FreeSlot();
        if (!clip || clip->state != 'A' || slot < 0 || Fails())
            return false;
        downloads++;
        Pc::Clipping &local = pc.slots[uint32_t(slot)];
        local.name = name;
        local.content = clip->content;
        local.lastUpdate = pc.Now(local.lastUpdate);
        local.downloaded = true;
        *landed = uint32_t(slot);
        *lastUpdate = local.lastUpdate;
        return true;
    }
    bool Rename(int32_t id, const std::string &name) override
    {
        Service::Clip *clip = service.Find(id);
        if (!clip || Fails())
            return false;
        clip->name = name;
        service.Touch(*clip);
        return true;
    }
};

void Ignore(void *, const char *, const std::string &, int) {}

// Three PCs and a service, with the history of every version of a text.
struct World {
    std::mt19937 random;
    Service service;
    std::vector<Pc> pcs{3};
    std::vector<Link> links;
    std::set<std::string> versions, edited; // every version of a text, those edited further
    std::set<std::string> retired;          // deleted on purpose by a user
    std::string violation;

    explicit World(unsigned seed) : random(seed)
    {
        for (Pc &pc : pcs) {
            pc.skew = std::uniform_int_distribution<long>(-600, 600)(random);
            links.emplace_back(service, pc, random);
        }
    }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    std::string NewVersion(const std::string &from)
    {
        edited.insert(from);
        return *versions.insert("v" + std::to_string(versions.size() + 1)).first;
    }
    // A slot of the PC in use, or -1.
    int AnySlot(Pc &pc)
    {
        if (pc.slots.empty())
            return -1;
        auto it = pc.slots.begin();
        std::advance(it, Pick(int(pc.slots.size())));
        return int(it->first);
    }

    SyncReport Sync(size_t p, double failure)
    {
        links[p].failure = failure;
        SyncReport report;
        RunSynchronisation(pcs[p], links[p], "", Ignore, nullptr, &report);
        return report;
    }

    void Step()
    {
        Pc &pc = pcs[Pick(3)];
        const int slot = AnySlot(pc);
        switch (Pick(8)) {
        case 0:
        case 1: // an edit
            if (slot >= 0) {
                Pc::Clipping &c = pc.slots[uint32_t(slot)];
                c.content = NewVersion(c.content);
                c.lastUpdate = pc.Now(c.lastUpdate);
                c.downloaded = false;
            }
            break;
        case 2: { // a new clipping, under one of a few names
            const int free = pc.FreeSlot();
            if (free >= 0)
                pc.slots[uint32_t(free)] = {
                    std::string(1, char("abcA"[Pick(4)])), NewVersion(""), pc.Now(""), {}};
            break;
        }
        case 3: // deleted here
            if (slot >= 0) {
                retired.insert(pc.slots[uint32_t(slot)].content);
                pc.slots.erase(uint32_t(slot));
            }
            break;
        case 4: // deleted or renamed in the cloud manager
            if (!service.clips.empty()) {
                Service::Clip &clip = service.clips[size_t(Pick(int(service.clips.size())))];
                if (clip.state == 'A' && Pick(2)) {
                    retired.insert(clip.content);
                    clip.state = 'X';
                    clip.content.clear();
                } else if (clip.state == 'A') {
                    clip.name = std::string(1, char("bcd"[Pick(3)]));
                }
                service.Touch(clip);
            }
            break;
        default:
            Sync(size_t(&pc - pcs.data()), Pick(3) == 0 ? 0.2 : 0);
            break;
        }
    }

    void Fail(const std::string &why)
    {
        if (violation.empty())
            violation = why;
    }
    // Every version neither edited further nor deleted on purpose is on a
    // PC or in the cloud, and no PC uploaded what it had downloaded.
    void CheckNothingLost()
    {
        std::set<std::string> held;
        for (const Pc &pc : pcs)
            for (const auto &s : pc.slots)
                held.insert(s.second.content);
        for (const Service::Clip &clip : service.clips)
            held.insert(clip.content);
        for (const std::string &v : versions)
            if (!held.count(v) && !retired.count(v) && !edited.count(v))
                Fail("version " + v + " was lost");
        for (size_t p = 0; p < pcs.size(); p++)
            if (links[p].bounces)
                Fail("PC " + std::to_string(p) + " uploaded what it had downloaded");
    }

    // What a PC holds, less the clippings of clips the list no longer
    // shows, which stay where they are.
    std::multiset<std::string> Held(size_t p)
    {
        std::vector<SyncCloud> listed;
        links[p].failure = 0;
        links[p].List(&listed);
        std::multiset<std::string> out;
        for (const auto &s : pcs[p].slots) {
            const int32_t id = s.second.mark.cloudId;
            const bool shown =
                std::any_of(listed.begin(), listed.end(), [id](const SyncCloud &c) { return c.id == id; });
            if (!id || shown)
                out.insert(s.second.name + "=" + s.second.content);
        }
        return out;
    }

    bool Full(const SyncReport &report) const { return report.skipped || !report.unsolved.empty(); }

    // With no edits and no failures, a first round sends up what is left, a
    // second one brings it down and uploads nothing, and then every PC holds
    // what the cloud holds, when it all fits; a third transfers nothing.
    void CheckSettles()
    {
        bool full = false;
        for (size_t p = 0; p < pcs.size(); p++)
            full = Full(Sync(p, 0)) || full;
        for (size_t p = 0; p < pcs.size(); p++) {
            const unsigned up = links[p].uploads;
            full = Full(Sync(p, 0)) || full;
            if (!full && links[p].uploads != up)
                Fail("PC " + std::to_string(p) + " uploaded in the second round");
        }
        if (full || service.Present() > MAX_CLIPPINGS)
            return;
        std::multiset<std::string> cloud;
        for (const Service::Clip &clip : service.clips)
            if (clip.state == 'A')
                cloud.insert(clip.name + "=" + clip.content);
        for (size_t p = 0; p < pcs.size(); p++) {
            if (Held(p) != cloud)
                Fail("PC " + std::to_string(p) + " differs from the cloud");
            const unsigned transfers = links[p].uploads + links[p].downloads;
            Sync(p, 0);
            if (links[p].uploads + links[p].downloads != transfers)
                Fail("PC " + std::to_string(p) + " still transferred in the third round");
        }
    }
};

} // namespace

TEST(SyncModel, ThreePcsLoseNoEditAndAgree)
{
    const unsigned interleavings = 3000, steps = 40;
    for (unsigned seed = 1; seed <= interleavings; seed++) {
        World world(seed);
        for (unsigned i = 0; i < steps && world.violation.empty(); i++) {
            world.Step();
            world.CheckNothingLost();
        }
        if (world.violation.empty())
            world.CheckSettles();
        world.CheckNothingLost();
        ASSERT_EQ("", world.violation) << "seed " << seed;
    }
    printf("sync model: %u interleavings of %u steps, three PCs\n", interleavings, steps);
}

// What the random runs reach too seldom to be sure of: a clipping whose clip
// has left the list goes up again only once it changed here, and new clips
// stop coming down when the store is full, as skipped, not failed.
TEST(SyncModel, UnlistedClipsAndAFullStore)
{
    std::mt19937 random(1);
    Service service;
    Pc pc;
    Link link(service, pc, random);
    // One clip the list shows, so that the marks are taken for this service's.
    service.clips.push_back({service.nextId++, "anchor", "a", 5, 'A'});
    const auto mark = [](int32_t id) { return SyncMark{id, DateText(id == 1 ? 5 : 1), DateText(2)}; };
    pc.slots[0] = {"anchor", "a", DateText(2), mark(1)};
    pc.slots[1] = {"same", "v1", DateText(2), mark(90)};
    pc.slots[2] = {"edited", "v2", DateText(3), mark(91)};
    SyncReport report;
    RunSynchronisation(pc, link, "", Ignore, nullptr, &report);
    EXPECT_EQ(1u, report.uploaded);
    ASSERT_EQ(2u, service.clips.size());
    EXPECT_EQ("v2", service.clips[1].content);

    service.clips.resize(1);
    for (uint32_t slot = 1; slot + 1 < MAX_CLIPPINGS; slot++)
        pc.slots[slot] = {"old", "v", DateText(2), mark(int32_t(80 + slot))};
    for (const char *name : {"x", "y"})
        service.clips.push_back({service.nextId++, name, "new", ++service.clock, 'A'});
    report = {};
    RunSynchronisation(pc, link, "", Ignore, nullptr, &report);
    EXPECT_EQ(1u, report.downloaded);
    EXPECT_EQ(1u, report.skipped);
    EXPECT_TRUE(report.failed.empty());
}
