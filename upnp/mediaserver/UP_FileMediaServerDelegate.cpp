// UP_FileMediaServerDelegate: object ids and paths, Browse, Search and the building of media
// objects. File serving is in UP_FileMediaServerDelegateHttp.cpp.
#include "UP_FileMediaServerDelegate.h"

#include "KL_Check.h"
#include "KL_File.h"
#include "KL_FilePath.h"
#include "KL_HttpRequestContext.h"
#include "KL_Log.h"
#include "KL_System.h"
#include "UP_ActionCall.h"
#include "UP_ConnectionBuffers.h"
#include "UP_Didl.h"
#include "UP_MediaContainer.h"
#include "UP_MediaObject.h"

#include <cstring>
#include <memory>

KL_SET_LOCAL_LOGGER("upnp.media.file");

namespace {

// Trailing "/" and "\" trimmed; a root of separators alone stays "/".
KL_String TrimRoot(const char* root) {
    KL_String trimmed(root != nullptr ? root : "");
    KL_Size length = trimmed.GetLength();
    while (length > 0 && (trimmed.GetChars()[length - 1] == '/' || trimmed.GetChars()[length - 1] == '\\')) {
        --length;
    }
    if (length == 0 && !trimmed.IsEmpty()) {
        return KL_String("/");
    }
    return trimmed.Left(length);
}

// The root made absolute against the current directory (textually, as the directory names it).
KL_String AbsoluteRoot(const char* root) {
    const KL_String trimmed = TrimRoot(root);
    KL_String directory;
    if (trimmed.IsEmpty() || trimmed.StartsWith("/") || KL_FAILED(KL_File::GetWorkingDir(directory))) {
        return trimmed;
    }
    return UP_SharedFolder::Standardize(
        KL_FilePath::Create(directory.GetChars(), trimmed.GetChars()).GetChars());
}

KL_String ToDecimal(uint32_t value) {
    return KL_String::Format("%u", static_cast<unsigned>(value));
}

// Folders with fewer entries are listed afresh on every request.
constexpr KL_Size kCachedFolderMinimum = 64;
// The most objects one Browse answer holds (RequestedCount 0 or above it asks for this many).
constexpr KL_Cardinal kMaxReturned = 1000;
// About what one listed object takes in DIDL-Lite, to size the answer's buffer once.
constexpr KL_Size kDidlBytesPerObject = 640;

bool WantsAllAddresses(const char* filter) {
    return filter != nullptr && std::strstr(filter, "ALLIP") != nullptr;
}

} // namespace

UP_FileMediaServerDelegate::UP_FileMediaServerDelegate(const char* url_root, const char* file_root,
                                                       bool use_cache)
    : m_UrlRoot(url_root != nullptr ? url_root : "/"), m_FileRoot(AbsoluteRoot(file_root)),
      m_UseCache(use_cache), m_Folder(m_FileRoot.GetChars()) {
    const std::shared_ptr<const UP_MediaFolder> share = m_Folder.Current();
    if (!share->IsOpen()) {
        KL_LOG_WARNING("Shared folder '%s' cannot be opened (%s); it lists nothing until it can",
                       m_FileRoot.GetChars(), std::strerror(share->GetError()));
    }
}

bool UP_FileMediaServerDelegate::IsRoot(const char* file_path) const {
    return m_FileRoot.Compare(file_path, true) == 0;
}

KL_String UP_FileMediaServerDelegate::GetRelativePath(const char* file_path) const {
    const KL_Size skip = m_FileRoot == "/" ? 1 : m_FileRoot.GetLength() + 1;
    const KL_String path(file_path);
    return path.GetLength() > skip ? path.SubString(skip, path.GetLength() - skip) : KL_String();
}

KL_String UP_FileMediaServerDelegate::GetObjectId(const char* file_path) const {
    if (IsRoot(file_path)) {
        return KL_String("0");
    }
    KL_String id("0/");
    id += GetRelativePath(file_path);
    return id;
}

KL_String UP_FileMediaServerDelegate::GetParentId(const char* file_path) const {
    const KL_String parent = KL_FilePath::DirName(file_path);
    if (parent.GetLength() <= m_FileRoot.GetLength() || IsRoot(parent.GetChars())) {
        return KL_String("0");
    }
    return GetObjectId(parent.GetChars());
}

KL_Result UP_FileMediaServerDelegate::GetFilePath(const char* object_id, KL_String& file_path) {
    if (object_id == nullptr) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    file_path = m_FileRoot;
    if (std::strcmp(object_id, "0") == 0) {
        return KL_SUCCESS;
    }
    // Only ids this delegate hands out: "0/" and published names, so that no id reaches outside.
    if (std::strncmp(object_id, "0/", 2) != 0 || !UP_MediaFolder::IsPublishablePath(object_id + 2)) {
        KL_LOG_WARNING("Refused object id '%s'", object_id);
        return KL_FAILURE;
    }
    file_path = KL_FilePath::Create(m_FileRoot.GetChars(), object_id + 2);
    return KL_SUCCESS;
}

bool UP_FileMediaServerDelegate::ProcessFile(const char*, const char*) {
    return true;
}

KL_Result UP_FileMediaServerDelegate::OnBrowseMetadata(UP_ActionCall* action, const char* object_id,
                                                       const char* filter, KL_Cardinal, KL_Cardinal,
                                                       const char*, const KL_HttpRequestContext& context) {
    KL_CHECK_POINTER(action);
    KL_String path;
    if (KL_FAILED(GetFilePath(object_id, path))) {
        KL_LOG_WARNING("UP_FileMediaServerDelegate::OnBrowse - ObjectID not found.");
        action->SetActionError(UP_ACTION_ERROR_NO_SUCH_OBJECT);
        return KL_FAILURE;
    }
    const std::shared_ptr<const UP_MediaFolder> share = m_Folder.Current(); // kept to the request's end
    std::unique_ptr<UP_MediaObject> object(
        BuildFromPath(*share, path.GetChars(), filter, context, true, false, WantsAllAddresses(filter)));
    if (!object) {
        return KL_FAILURE;
    }
    KL_String didl(UP_DIDL_HEADER);
    KL_CHECK(UP_Didl::ToDidl(*object, filter, didl));
    didl += UP_DIDL_FOOTER;
    KL_CHECK(action->SetArgumentValue("Result", didl.GetChars()));
    KL_CHECK(action->SetArgumentValue("NumberReturned", "1"));
    KL_CHECK(action->SetArgumentValue("TotalMatches", "1"));
    KL_CHECK(action->SetArgumentValue("UpdateId", "1"));
    return KL_SUCCESS;
}

bool UP_FileMediaServerDelegate::GetCachedEntries(const UP_MediaFolder& share, const char* folder,
                                                  const UP_MediaFolder::Entry& folder_entry,
                                                  KL_Reference<EntryList>& entries, KL_String& key) {
    if (!m_UseCache) {
        return false;
    }
    key = m_CacheKeyPrefix.IsEmpty() ? KL_String(folder)
                                     : KL_FilePath::Create(m_CacheKeyPrefix.GetChars(), folder);
    KL_TimeStamp stamp;
    // Still the folder that was listed: names, types, times and sizes come from the cache.
    return share.GetListingCache().Get(key, entries, stamp) && !entries.IsNull() &&
           stamp == folder_entry.m_ChangeTime;
}

KL_Result UP_FileMediaServerDelegate::ListEntries(const UP_MediaFolder& share, const char* folder,
                                                  int folder_fd, const UP_MediaFolder::Entry& folder_entry,
                                                  KL_Reference<EntryList>& entries) {
    KL_String key;
    if (GetCachedEntries(share, folder, folder_entry, entries, key)) {
        return KL_SUCCESS;
    }
    entries = KL_Reference<EntryList>(new EntryList());
    KL_Result result = share.List(folder_fd, folder, *entries, true);
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("UP_FileMediaServerDelegate::OnBrowseDirectChildren - failed to open dir %s", folder);
        return result;
    }
    KL_TimeStamp now;
    // Small folders list fast enough. A change in the same clock tick as the folder's last one
    // could keep its time: only a folder that has been quiet for a while is kept.
    if (m_UseCache && entries->GetItemCount() >= kCachedFolderMinimum &&
        KL_SUCCEEDED(KL_System::GetCurrentTimeStamp(now)) &&
        now - folder_entry.m_ChangeTime >= KL_TimeStamp::FromSeconds(2)) {
        (void)share.GetListingCache().Put(key, entries, folder_entry.m_ChangeTime);
    }
    return KL_SUCCESS;
}

bool UP_FileMediaServerDelegate::IsListed(KL_String& path, KL_Size folder_length,
                                          const UP_MediaFolder::Entry& entry, const char* filter,
                                          const KL_HttpRequestContext& context, FileKinds& kinds) {
    if (KL_FAILED(path.SetLength(folder_length))) {
        return false;
    }
    path += entry.m_Name;
    return ProcessFile(path.GetChars(), filter) && IsListable(entry, context, kinds);
}

KL_Result UP_FileMediaServerDelegate::SelectPage(const char* folder, const EntryList& entries,
                                                 const char* filter, KL_Cardinal starting_index,
                                                 KL_Cardinal requested_count,
                                                 const KL_HttpRequestContext& context, FileKinds& kinds,
                                                 EntryList& page, KL_Cardinal& total) {
    page.Clear();
    total = 0;
    // One answer holds at most kMaxReturned objects, whatever was asked: clients page on.
    const KL_Cardinal count =
        requested_count == 0 || requested_count > kMaxReturned ? kMaxReturned : requested_count;
    KL_String path(folder); // one buffer for every entry's path: big folders allocate once
    if (!path.EndsWith("/")) {
        path += "/";
    }
    const KL_Size folder_length = path.GetLength();
    for (const UP_MediaFolder::Entry& entry : entries) {
        if (!IsListed(path, folder_length, entry, filter, context, kinds)) {
            continue;
        }
        if (total >= starting_index && page.GetItemCount() < count) {
            KL_CHECK(page.Add(entry));
        }
        ++total;
    }
    return KL_SUCCESS;
}

int32_t UP_FileMediaServerDelegate::CountChildren(const UP_MediaFolder& share, const char* folder,
                                                  const char* filter, const KL_HttpRequestContext& context,
                                                  FileKinds& kinds) {
    UP_SharedFolder::Descriptor folder_fd;
    UP_MediaFolder::Entry folder_entry;
    if (KL_FAILED(share.OpenFolder(folder, folder_fd, folder_entry))) {
        return UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT;
    }
    KL_Reference<EntryList> entries;
    KL_String key;
    if (!GetCachedEntries(share, folder, folder_entry, entries, key)) {
        // Counting needs names and types only: no stat where the folder tells the type.
        entries = KL_Reference<EntryList>(new EntryList());
        if (KL_FAILED(share.List(folder_fd.Get(), folder, *entries, false))) {
            return UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT;
        }
    }
    KL_String path(folder);
    if (!path.EndsWith("/")) {
        path += "/";
    }
    const KL_Size folder_length = path.GetLength();
    int32_t count = 0;
    for (const UP_MediaFolder::Entry& entry : *entries) {
        if (IsListed(path, folder_length, entry, filter, context, kinds) && count < 0x7FFFFFFF) {
            ++count;
        }
    }
    return count;
}

KL_Result UP_FileMediaServerDelegate::OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id,
                                                             const char* filter, KL_Cardinal starting_index,
                                                             KL_Cardinal requested_count, const char*,
                                                             const KL_HttpRequestContext& context) {
    KL_CHECK_POINTER(action);
    KL_String folder;
    const std::shared_ptr<const UP_MediaFolder> share = m_Folder.Current(); // kept to the request's end
    UP_SharedFolder::Descriptor folder_fd;
    UP_MediaFolder::Entry folder_entry;
    if (KL_FAILED(GetFilePath(object_id, folder)) ||
        KL_FAILED(share->OpenFolder(folder.GetChars(), folder_fd, folder_entry))) {
        KL_LOG_WARNING("ObjectID '%s' not found or not allowed", object_id != nullptr ? object_id : "");
        action->SetActionError(UP_ACTION_ERROR_NO_SUCH_OBJECT_TO_LIST);
        return KL_FAILURE;
    }
    FileKinds kinds;
    EntryList page;
    KL_Cardinal total = 0;
    {
        KL_Reference<EntryList> entries; // listed through the descriptor that was checked
        KL_CHECK(ListEntries(*share, folder.GetChars(), folder_fd.Get(), folder_entry, entries));
        KL_CHECK(SelectPage(folder.GetChars(), *entries, filter, starting_index, requested_count, context,
                            kinds, page, total));
    }

    const bool all_addresses = WantsAllAddresses(filter);
    const uint32_t mask = UP_Didl::FilterToMask(filter);
    RequestHosts hosts;
    KL_Cardinal returned = 0;
    KL_String parent_id; // every entry of the page is in the folder: one parent id for all
    // Every object is written straight into one buffer, the connection's own, kept between requests.
    KL_String& didl = UP_ConnectionBuffers::Text();
    (void)didl.Reserve(kDidlBytesPerObject * page.GetItemCount() + 1024);
    didl += UP_DIDL_HEADER;
    for (const UP_MediaFolder::Entry& entry : page) {
        if (!hosts.m_Valid && entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR) {
            KL_CHECK(GetRequestHosts(context, all_addresses, hosts));
        }
        const KL_String path = KL_FilePath::Create(folder.GetChars(), entry.m_Name.GetChars());
        if (parent_id.IsEmpty()) {
            parent_id = GetParentId(path.GetChars());
        }
        std::unique_ptr<UP_MediaObject> object(BuildFromEntry(*share, path.GetChars(), entry, filter, context,
                                                              hosts, true, false, all_addresses, kinds,
                                                              &parent_id));
        if (object) {
            KL_CHECK(object->ToDidl(mask, didl));
            ++returned;
        }
    }
    didl += UP_DIDL_FOOTER;
    KL_LOG_FINE("BrowseDirectChildren from %s returning %d-%d/%d objects (%d out of %d requested)",
                context.GetRemoteAddress().ToString().GetChars(), static_cast<int>(starting_index),
                static_cast<int>(starting_index + returned), static_cast<int>(total),
                static_cast<int>(returned), static_cast<int>(requested_count));
    KL_CHECK(action->SetArgumentValue("Result", didl.GetChars()));
    KL_CHECK(action->SetArgumentValue("NumberReturned", ToDecimal(returned).GetChars()));
    KL_CHECK(action->SetArgumentValue("TotalMatches", ToDecimal(total).GetChars()));
    KL_CHECK(action->SetArgumentValue("UpdateId", "1"));
    return KL_SUCCESS;
}

KL_Result UP_FileMediaServerDelegate::OnSearchContainer(UP_ActionCall* action, const char* container_id,
                                                        const char* search_criteria, const char*, KL_Cardinal,
                                                        KL_Cardinal, const char*,
                                                        const KL_HttpRequestContext&) {
    KL_CHECK_POINTER(action);
    if (search_criteria != nullptr && std::strcmp(search_criteria, "Unknownfieldname") == 0) {
        KL_LOG_WARNING("Unsupported or invalid search criteria %s", search_criteria);
        action->SetActionError(UP_ACTION_ERROR_INVALID_SEARCH_CRITERIA);
        return KL_FAILURE;
    }
    KL_String path;
    if (KL_FAILED(GetFilePath(container_id, path))) {
        KL_LOG_WARNING("ObjectID not found.");
        action->SetActionError(UP_ACTION_ERROR_NO_SUCH_CONTAINER);
        return KL_FAILURE;
    }
    UP_MediaFolder::Entry entry;
    if (KL_SUCCEEDED(m_Folder.Current()->Inspect(path.GetChars(), entry)) &&
        entry.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        return KL_ERROR_NOT_IMPLEMENTED; // nothing searches: the server answers 800
    }
    KL_LOG_WARNING("No such container");
    action->SetActionError(UP_ACTION_ERROR_NOT_A_CONTAINER);
    return KL_FAILURE;
}
