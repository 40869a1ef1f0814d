// UP_MediaFolder: what the file delegate may publish of the shared folder, and the listing of one
// of its folders.
//
// An entry is published when its name can be an object id (IsPublishableName) and it is a regular
// file or a folder whose real location (symbolic links resolved) lies inside the shared folder's
// real location, compared by whole path components. FIFOs, sockets and device nodes are never
// published and never opened.
//
//   UP_MediaFolder share("/srv/media");
//   KL_Array<UP_MediaFolder::Entry> entries;
//   KL_CHECK(share.List("/srv/media/Movies", entries));   // published entries, oldest first
//
// Stateless after construction: safe to use from several threads at once.
#pragma once

#include "KL_Array.h"
#include "KL_FileInfo.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "KL_Types.h"

class UP_MediaFolder {
public:
    struct Entry {
        KL_String m_Name;
        KL_FileInfo::Type m_Type = KL_FileInfo::FILE_TYPE_NONE; // regular or directory
        KL_TimeStamp m_ModificationTime;                        // whole seconds
        KL_TimeStamp m_ChangeTime; // the later of modification and status change, in nanoseconds
        KL_LargeSize m_Size = 0;
    };

    // root: the shared folder as the delegate keeps it ("/" stays "/").
    explicit UP_MediaFolder(const char* root);

    // A name that is not empty, "." or "..", is valid UTF-8 without a character XML 1.0 forbids,
    // and keeps a title once its extension is cut (".hidden" does not).
    static bool IsPublishableName(const char* name);
    // True when every "/"-separated component of the relative path is publishable.
    static bool IsPublishablePath(const char* relative_path);
    // True when path lies inside (or is) root, by whole components; both absolute, no links.
    static bool IsInside(const char* root, const char* path);

    // Stats the path (links followed) and checks that it is published: KL_ERROR_NO_SUCH_ITEM
    // when it is not; the stat failure when it cannot be read.
    KL_Result Inspect(const char* path, Entry& entry) const;
    // The published entries of the folder, each stat'ed once, sorted by modification time (oldest
    // first, equal times in directory order). KL_ERROR_NO_SUCH_ITEM when it cannot be opened.
    KL_Result List(const char* folder, KL_Array<Entry>& entries) const;
    // The same for a list of names already read (cached listings): entries that went away or are
    // not published are dropped, the order is kept.
    KL_Result Inspect(const char* folder, const KL_Array<KL_String>& names, KL_Array<Entry>& entries) const;
    // Stable sort by modification time, oldest first.
    static void SortByTime(KL_Array<Entry>& entries);

    const KL_String& GetRoot() const { return m_Root; }

private:
    // The shared folder's real path, or empty when it cannot be resolved.
    KL_String GetRealRoot() const;
    // Fills the entry from a stat of the name inside the open folder (dir_fd); false when the
    // entry is not published.
    bool InspectAt(int dir_fd, const char* folder, const char* name, const KL_String& real_root,
                   Entry& entry) const;

    KL_String m_Root;
};
