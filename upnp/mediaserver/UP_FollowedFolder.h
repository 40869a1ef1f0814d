// UP_FollowedFolder: the shared folder followed by its path. The folder is kept open (as a
// UP_MediaFolder), and each time it is asked for, one stat of the path tells whether the path
// still names the folder held (same device and inode). When the path names another folder (the
// folder was replaced, renamed over, or came back after it was gone) that one is opened, with a
// listing cache of its own; when it names no folder, a folder that is not open answers (an empty
// root, nothing below it). Whoever took a folder keeps it, open, for as long as they hold it.
//
//   UP_FollowedFolder followed("/srv/media");
//   const std::shared_ptr<const UP_MediaFolder> share = followed.Current(); // once per request
//   share->OpenFolder("/srv/media/Movies", folder, entry);
//
// Thread-safe: the folder held is swapped under a lock; a folder is opened outside it.
#pragma once

#include "KL_Mutex.h"
#include "KL_String.h"
#include "UP_MediaFolder.h"

#include <memory>

class UP_FollowedFolder {
public:
    // root: the shared folder as the delegate keeps it (absolute); opened here.
    explicit UP_FollowedFolder(const char* root);
    UP_FollowedFolder(const UP_FollowedFolder&) = delete;
    UP_FollowedFolder& operator=(const UP_FollowedFolder&) = delete;

    // The folder the path names now; never null (not open when the path names no folder).
    std::shared_ptr<const UP_MediaFolder> Current() const;

private:
    KL_String m_Root;
    mutable KL_Mutex m_Lock; // guards m_Folder
    mutable std::shared_ptr<const UP_MediaFolder> m_Folder;
};
