// UP_FollowedFolder: the shared folder followed by its path (POSIX).
#include "UP_FollowedFolder.h"

#include <sys/stat.h>

UP_FollowedFolder::UP_FollowedFolder(const char* root)
    : m_Root(root != nullptr ? root : ""),
      m_Folder(std::make_shared<const UP_MediaFolder>(m_Root.GetChars())) {}

std::shared_ptr<const UP_MediaFolder> UP_FollowedFolder::Current() const {
    struct stat status {};
    const bool found =
        ::stat(m_Root.IsEmpty() ? "/" : m_Root.GetChars(), &status) == 0 && S_ISDIR(status.st_mode);
    std::shared_ptr<const UP_MediaFolder> stale; // let go outside the lock
    {
        KL_AutoLock lock(m_Lock);
        if (found ? m_Folder->Holds(status) : !m_Folder->IsOpen()) {
            return m_Folder;
        }
        stale = m_Folder;
    }
    // The path no longer names the folder held: what it names now is opened (a folder gone, or on
    // a stick taken away, is not kept busy), with listings of its own. The next stat compares with
    // the folder actually opened, so a swap meanwhile is seen at the next request.
    std::shared_ptr<const UP_MediaFolder> opened = std::make_shared<const UP_MediaFolder>(m_Root.GetChars());
    KL_AutoLock lock(m_Lock);
    if (m_Folder == stale) {
        m_Folder.swap(opened); // unless another request replaced it first
    }
    return m_Folder;
}
