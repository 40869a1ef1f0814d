// UP_MediaFolder: what the file delegate may publish of the shared folder, and the listing of one
// of its folders.
//
// An entry is published when its name can be an object id (IsPublishableName) and it is a regular
// file or a folder reached beneath the shared folder's descriptor (UP_SharedFolder: links only
// while they stay inside). FIFOs, sockets and device nodes are never published and never opened.
// Every check is made on the descriptor that is then used: a folder is listed through the
// descriptor that was checked, a file served from the descriptor that was stat'ed.
//
//   UP_MediaFolder share("/srv/media");
//   UP_SharedFolder::Descriptor folder;
//   UP_MediaFolder::Entry entry;
//   KL_Array<UP_MediaFolder::Entry> entries;
//   KL_CHECK(share.OpenFolder("/srv/media/Movies", folder, entry));
//   KL_CHECK(share.List(folder.Get(), "/srv/media/Movies", entries, true)); // oldest first
//
// The shared folder is opened once, at construction; UP_FollowedFolder makes a new one when the
// path comes to name another folder. A folder that could not be opened reads as an empty folder:
// its root lists nothing and nothing below it exists. The listing cache of the file delegate lives
// here, so that it goes with the folder it lists. Thread-safe afterwards.
#pragma once

#include "KL_Array.h"
#include "KL_FileInfo.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "KL_Types.h"
#include "UP_MediaCache.h"
#include "UP_SharedFolder.h"

class UP_MediaFolder {
public:
    struct Entry {
        KL_String m_Name;
        KL_FileInfo::Type m_Type = KL_FileInfo::FILE_TYPE_NONE; // regular or directory
        KL_TimeStamp m_ModificationTime;                        // whole seconds
        KL_TimeStamp m_ChangeTime; // the later of modification and status change, in nanoseconds
        KL_LargeSize m_Size = 0;
    };
    using EntryList = KL_Array<Entry>;
    // Sorted listings of this folder's folders under their keys, with the change time they were
    // listed at.
    using ListingCache = UP_MediaCache<KL_Reference<EntryList>, KL_TimeStamp>;

    // root: the shared folder as the delegate keeps it ("/" stays "/"); opened here.
    explicit UP_MediaFolder(const char* root);

    // A name that is not empty, "." or "..", is valid UTF-8 without a character XML 1.0 forbids,
    // and keeps a title once its extension is cut (".hidden" does not).
    static bool IsPublishableName(const char* name);
    // True when every "/"-separated component of the relative path is publishable.
    static bool IsPublishablePath(const char* relative_path);
    // True when path lies inside (or is) root, by whole components; both absolute, no links.
    static bool IsInside(const char* root, const char* path);

    // Opens the published item at path (the root or a path below it) with the open flags given and
    // fills the entry from the opened descriptor: KL_ERROR_NO_SUCH_ITEM when it is not published
    // or cannot be opened.
    KL_Result Open(const char* path, int flags, UP_SharedFolder::Descriptor& item, Entry& entry) const;
    // The same without keeping a descriptor.
    KL_Result Inspect(const char* path, Entry& entry) const;
    // A published folder, opened for listing.
    KL_Result OpenFolder(const char* path, UP_SharedFolder::Descriptor& folder, Entry& entry) const;
    // A published regular file, opened for reading (nothing else is ever opened).
    KL_Result OpenFile(const char* path, UP_SharedFolder::Descriptor& file, Entry& entry) const;
    // The published entries of the folder open at folder_fd (its path is folder). With status,
    // each is stat'ed once and the list is sorted (SortByTime); without, only the types are
    // filled, from the directory itself where it tells them, in directory order.
    KL_Result List(int folder_fd, const char* folder, KL_Array<Entry>& entries, bool with_status) const;
    // Stable sort by modification time, oldest first; equal times by name (byte order).
    static void SortByTime(KL_Array<Entry>& entries);

    const KL_String& GetRoot() const { return m_Root; }
    bool IsOpen() const { return m_Shared.IsOpen(); }
    // Why the folder could not be opened (an errno value); 0 when it is open.
    int GetError() const { return m_Shared.GetError(); }
    // True when the status (of the root's path) is that of the folder held open.
    bool Holds(const struct stat& status) const { return m_Shared.Holds(status); }
    ListingCache& GetListingCache() const { return m_Listings; }

private:
    // The path below the root, "" for the root itself; false for a path outside it.
    bool GetRelativePath(const char* path, KL_String& relative) const;
    // Fills the entry of the name inside the open folder (folder_fd; relative: the folder below the
    // root); false when the entry is not published. d_type: the directory's type of it.
    bool InspectAt(int folder_fd, const KL_String& relative, const char* name, unsigned char d_type,
                   bool with_status, Entry& entry) const;

    KL_String m_Root;
    UP_SharedFolder m_Shared;
    mutable ListingCache m_Listings; // locks itself
};
