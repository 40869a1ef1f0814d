// UP_FileMediaServerDelegate: object ids and paths, Browse, Search and the building of media
// objects. File serving is in UP_FileMediaServerDelegateHttp.cpp.
#include "UP_FileMediaServerDelegate.h"

#include "KL_Check.h"
#include "KL_FilePath.h"
#include "KL_HttpRequestContext.h"
#include "KL_Log.h"
#include "KL_System.h"
#include "UP_ActionCall.h"
#include "UP_Didl.h"
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

KL_String ToDecimal(uint32_t value) {
    return KL_String::Format("%u", static_cast<unsigned>(value));
}

// Folders with fewer entries are listed afresh on every request.
constexpr KL_Size kCachedFolderMinimum = 64;

bool WantsAllAddresses(const char* filter) {
    return filter != nullptr && std::strstr(filter, "ALLIP") != nullptr;
}

} // namespace

UP_FileMediaServerDelegate::UP_FileMediaServerDelegate(const char* url_root, const char* file_root,
                                                       bool use_cache)
    : m_UrlRoot(url_root != nullptr ? url_root : "/"), m_FileRoot(TrimRoot(file_root)), m_UseCache(use_cache),
      m_Folder(m_FileRoot.GetChars()) {}

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
    std::unique_ptr<UP_MediaObject> object(
        BuildFromFilePath(path.GetChars(), context, true, false, WantsAllAddresses(filter)));
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

KL_Result UP_FileMediaServerDelegate::ListEntries(const char* folder,
                                                  const UP_MediaFolder::Entry& folder_entry,
                                                  KL_Reference<EntryList>& entries, bool& from_cache,
                                                  bool refresh) {
    from_cache = false;
    KL_String key;
    if (m_UseCache) {
        key = m_CacheKeyPrefix.IsEmpty() ? KL_String(folder)
                                         : KL_FilePath::Create(m_CacheKeyPrefix.GetChars(), folder);
        KL_TimeStamp stamp;
        if (!refresh && m_Cache.Get(key, entries, stamp) && !entries.IsNull() &&
            stamp == folder_entry.m_ChangeTime) {
            from_cache = true;
            return KL_SUCCESS;
        }
    }
    entries = KL_Reference<EntryList>(new EntryList());
    KL_Result result = m_Folder.List(folder, *entries);
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
        (void)m_Cache.Put(key, entries, folder_entry.m_ChangeTime);
    }
    return KL_SUCCESS;
}

KL_Result UP_FileMediaServerDelegate::SelectPage(const char* folder, const EntryList& entries,
                                                 const char* filter, KL_Cardinal starting_index,
                                                 KL_Cardinal requested_count,
                                                 const KL_HttpRequestContext& context, FileKinds& kinds,
                                                 EntryList& page, KL_Cardinal& total) {
    page.Clear();
    total = 0;
    KL_String path(folder); // one buffer for every entry's path: big folders allocate once
    if (!path.EndsWith("/")) {
        path += "/";
    }
    const KL_Size folder_length = path.GetLength();
    for (const UP_MediaFolder::Entry& entry : entries) {
        KL_CHECK(path.SetLength(folder_length));
        path += entry.m_Name;
        if (!ProcessFile(path.GetChars(), filter) || !IsListable(entry, context, kinds)) {
            continue;
        }
        if (total >= starting_index && (requested_count == 0 || page.GetItemCount() < requested_count)) {
            KL_CHECK(page.Add(entry));
        }
        ++total;
    }
    return KL_SUCCESS;
}

KL_Result UP_FileMediaServerDelegate::RefreshPage(const char* folder, EntryList& page) const {
    KL_Array<KL_String> names;
    for (const UP_MediaFolder::Entry& entry : page) {
        KL_CHECK(names.Add(entry.m_Name));
    }
    EntryList fresh;
    KL_CHECK(m_Folder.Inspect(folder, names, fresh));
    if (fresh.GetItemCount() != page.GetItemCount()) {
        return KL_FAILURE;
    }
    for (KL_Index i = 0; i < page.GetItemCount(); ++i) {
        if (fresh[i].m_Type != page[i].m_Type) {
            return KL_FAILURE;
        }
    }
    page = fresh;
    return KL_SUCCESS;
}

KL_Result UP_FileMediaServerDelegate::OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id,
                                                             const char* filter, KL_Cardinal starting_index,
                                                             KL_Cardinal requested_count, const char*,
                                                             const KL_HttpRequestContext& context) {
    KL_CHECK_POINTER(action);
    KL_String folder;
    UP_MediaFolder::Entry folder_entry;
    if (KL_FAILED(GetFilePath(object_id, folder)) ||
        KL_FAILED(m_Folder.Inspect(folder.GetChars(), folder_entry)) ||
        folder_entry.m_Type != KL_FileInfo::FILE_TYPE_DIRECTORY) {
        KL_LOG_WARNING("ObjectID '%s' not found or not allowed", object_id != nullptr ? object_id : "");
        action->SetActionError(UP_ACTION_ERROR_NO_SUCH_OBJECT_TO_LIST);
        return KL_FAILURE;
    }
    FileKinds kinds;
    EntryList page;
    KL_Cardinal total = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        KL_Reference<EntryList> entries;
        bool from_cache = false;
        KL_CHECK(ListEntries(folder.GetChars(), folder_entry, entries, from_cache, attempt > 0));
        KL_CHECK(SelectPage(folder.GetChars(), *entries, filter, starting_index, requested_count, context,
                            kinds, page, total));
        if (!from_cache || KL_SUCCEEDED(RefreshPage(folder.GetChars(), page))) {
            break;
        }
    }

    const bool all_addresses = WantsAllAddresses(filter);
    RequestHosts hosts;
    KL_Cardinal returned = 0;
    KL_String didl(UP_DIDL_HEADER);
    for (const UP_MediaFolder::Entry& entry : page) {
        if (!hosts.m_Valid && entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR) {
            KL_CHECK(GetRequestHosts(context, all_addresses, hosts));
        }
        const KL_String path = KL_FilePath::Create(folder.GetChars(), entry.m_Name.GetChars());
        std::unique_ptr<UP_MediaObject> object(
            BuildFromEntry(path.GetChars(), entry, context, hosts, true, false, all_addresses, kinds));
        if (object) {
            KL_CHECK(UP_Didl::ToDidl(*object, filter, didl));
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
    if (KL_SUCCEEDED(m_Folder.Inspect(path.GetChars(), entry)) &&
        entry.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        return KL_ERROR_NOT_IMPLEMENTED; // nothing searches: the server answers 800
    }
    KL_LOG_WARNING("No such container");
    action->SetActionError(UP_ACTION_ERROR_NOT_A_CONTAINER);
    return KL_FAILURE;
}
