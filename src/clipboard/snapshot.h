#pragma once
// Copies of whole clipboards: the undo snapshot, and the copy the paste key
// keeps while the plain text is pasted. The clipboard must be open.
#include <windows.h>
#include <vector>

// Copies of clipboard formats, owned until they are handed back to the
// clipboard; whatever is left is freed with them.
class FormatSnapshot {
public:
    explicit FormatSnapshot(size_t limit) : m_limit(limit) {}
    ~FormatSnapshot() { Clear(); }
    FormatSnapshot(const FormatSnapshot &) = delete;
    FormatSnapshot &operator=(const FormatSnapshot &) = delete;

    bool empty() const { return m_entries.empty(); }
    bool full() const { return m_entries.size() >= m_limit; }
    // The snapshot owns `block` from now on; it must not be full.
    void Add(UINT format, HGLOBAL block) { m_entries.push_back({format, block}); }
    // Replaces the contents by a copy of every format of the open clipboard
    // that the system does not derive from another, up to the limit. False,
    // and empty, when a format's data could not be copied (memory ran out;
    // the user has been told).
    bool Take();
    // Formats were left out for want of room at the last Take().
    bool cut() const { return m_cut; }
    // Overwrites the copies before freeing them: content marked private
    // leaves no trace in freed memory.
    void Clear(bool wipe = false);
    // Puts every copy on the open clipboard; those it refuses are freed.
    void Restore();
    // Exchanges the copies, keeping each snapshot's limit.
    void Swap(FormatSnapshot &other);

private:
    struct Entry {
        UINT format;
        HGLOBAL block;
    };
    std::vector<Entry> m_entries;
    size_t m_limit;
    bool m_cut = false;
};

// The marks by which a source (a password manager, say) asks clipboard
// monitors not to record its copy are on the open clipboard.
bool IsPrivateClipboard();

// Copies of the privacy marks on the open clipboard, put back after a change.
class PrivacyMarks {
public:
    PrivacyMarks();
    void Restore() { m_marks.Restore(); }

private:
    FormatSnapshot m_marks;
};
