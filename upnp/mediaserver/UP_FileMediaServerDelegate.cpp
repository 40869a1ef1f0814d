// UP_FileMediaServerDelegate: object ids and paths, Browse, Search and the building of media
// objects. File serving is in UP_FileMediaServerDelegateHttp.cpp.
#include "UP_FileMediaServerDelegate.h"

#include "KL_Check.h"
#include "KL_File.h"
#include "KL_FilePath.h"
#include "KL_HttpRequestContext.h"
#include "KL_IpAddress.h"
#include "KL_Log.h"
#include "KL_Uri.h"
#include "UP_ActionCall.h"
#include "UP_Didl.h"
#include "UP_MediaContainer.h"
#include "UP_MediaItem.h"
#include "UP_ProtocolInfo.h"
#include "UP_UPnPMessageHelper.h"

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
        action->SetActionError(701, "No Such Object.");
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
                                                  KL_Array<UP_MediaFolder::Entry>& entries) {
    KL_String key;
    if (m_UseCache) {
        key = m_CacheKeyPrefix.IsEmpty() ? KL_String(folder)
                                         : KL_FilePath::Create(m_CacheKeyPrefix.GetChars(), folder);
        KL_Reference<KL_Array<KL_String>> names;
        KL_TimeStamp stamp;
        if (m_Cache.Get(key, names, stamp) && !names.IsNull() && !(stamp < folder_entry.m_ModificationTime)) {
            return m_Folder.Inspect(folder, *names, entries);
        }
    }
    KL_Result result = m_Folder.List(folder, entries);
    if (KL_FAILED(result)) {
        KL_LOG_WARNING("UP_FileMediaServerDelegate::OnBrowseDirectChildren - failed to open dir %s", folder);
        return result;
    }
    if (m_UseCache) {
        KL_Reference<KL_Array<KL_String>> names(new KL_Array<KL_String>());
        for (const UP_MediaFolder::Entry& entry : entries) {
            KL_CHECK(names->Add(entry.m_Name));
        }
        (void)m_Cache.Put(key, names, folder_entry.m_ModificationTime);
    }
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
        action->SetActionError(701, "No such Object");
        return KL_FAILURE;
    }
    KL_Array<UP_MediaFolder::Entry> entries;
    KL_CHECK(ListEntries(folder.GetChars(), folder_entry, entries));

    const bool all_addresses = WantsAllAddresses(filter);
    RequestHosts hosts;
    KL_Cardinal index = 0;
    KL_Cardinal total = 0;
    KL_Cardinal returned = 0;
    KL_String didl(UP_DIDL_HEADER);
    for (const UP_MediaFolder::Entry& entry : entries) {
        const KL_String path = KL_FilePath::Create(folder.GetChars(), entry.m_Name.GetChars());
        if (!ProcessFile(path.GetChars(), filter)) {
            continue;
        }
        const bool in_page = index >= starting_index && (requested_count == 0 || returned < requested_count);
        if (!in_page) {
            if (!IsListable(path.GetChars(), entry, context)) {
                continue;
            }
        } else {
            if (!hosts.m_Valid && entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR) {
                KL_CHECK(GetRequestHosts(context, all_addresses, hosts));
            }
            std::unique_ptr<UP_MediaObject> object(
                BuildFromEntry(path.GetChars(), entry, context, hosts, true, false, all_addresses));
            if (!object) {
                continue;
            }
            KL_CHECK(UP_Didl::ToDidl(*object, filter, didl));
            ++returned;
        }
        ++index;
        ++total;
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
        action->SetActionError(708, "Unsupported or invalid search criteria");
        return KL_FAILURE;
    }
    KL_String path;
    if (KL_FAILED(GetFilePath(container_id, path))) {
        KL_LOG_WARNING("ObjectID not found.");
        action->SetActionError(710, "No Such Container.");
        return KL_FAILURE;
    }
    UP_MediaFolder::Entry entry;
    if (KL_SUCCEEDED(m_Folder.Inspect(path.GetChars(), entry)) &&
        entry.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        return KL_ERROR_NOT_IMPLEMENTED; // nothing searches: the server answers 800
    }
    KL_LOG_WARNING("No such container");
    action->SetActionError(710, "No such container");
    return KL_FAILURE;
}

KL_Result UP_FileMediaServerDelegate::GetRequestHosts(const KL_HttpRequestContext& context,
                                                      bool all_addresses, RequestHosts& hosts) const {
    hosts.m_Addresses.Clear();
    KL_Result result = UP_UPnPMessageHelper::GetIPAddresses(hosts.m_Addresses, false);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(UP_UPnPMessageHelper::GetIPAddresses(ips))");
        return result;
    }
    const KL_IpAddress& local = context.GetLocalAddress().m_IpAddress;
    if (local == KL_IpAddress::Any) {
        if (!all_addresses) {
            KL_LOG_WARNING("Couldn't determine local interface IP so we might return an unreachable IP");
        }
    } else {
        (void)hosts.m_Addresses.Remove(local);
        KL_CHECK(hosts.m_Addresses.Insert(hosts.m_Addresses.GetFirstItem(), local));
    }
    const KL_String root_path = KL_Uri::PercentEncode(m_UrlRoot.GetChars(), KL_Uri::PathCharsToEncode, true);
    hosts.m_BaseUrl = KL_HttpUrl("127.0.0.1", context.GetLocalAddress().m_Port, root_path.GetChars());
    hosts.m_Valid = true;
    return KL_SUCCESS;
}

bool UP_FileMediaServerDelegate::IsListable(const char* file_path, const UP_MediaFolder::Entry& entry,
                                            const KL_HttpRequestContext& context) {
    if (KL_FilePath::BaseName(file_path, false).IsEmpty()) {
        return false;
    }
    if (entry.m_Type != KL_FileInfo::FILE_TYPE_REGULAR) {
        return true;
    }
    if (m_FilterUnknown && UP_ProtocolInfo::GetMimeType(file_path, &context) == "application/octet-stream") {
        return false;
    }
    return UP_ProtocolInfo::ForFile(file_path, true, &context).IsValid();
}

UP_MediaObject* UP_FileMediaServerDelegate::BuildFromFilePath(const char* file_path,
                                                              const KL_HttpRequestContext& context,
                                                              bool with_count, bool keep_extension,
                                                              bool all_addresses) {
    if (file_path == nullptr) {
        return nullptr;
    }
    KL_LOG_FINEST("Building didl for file '%s'", file_path);
    UP_MediaFolder::Entry entry;
    KL_Result result = m_Folder.Inspect(file_path, entry);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(KL_File::GetInfo(filepath, &info))");
        return nullptr;
    }
    RequestHosts hosts;
    if (entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR &&
        KL_FAILED(GetRequestHosts(context, all_addresses, hosts))) {
        return nullptr;
    }
    return BuildFromEntry(file_path, entry, context, hosts, with_count, keep_extension, all_addresses);
}

UP_MediaObject* UP_FileMediaServerDelegate::BuildFromEntry(const char* file_path,
                                                           const UP_MediaFolder::Entry& entry,
                                                           const KL_HttpRequestContext& context,
                                                           const RequestHosts& hosts, bool with_count,
                                                           bool keep_extension, bool all_addresses) {
    std::unique_ptr<UP_MediaObject> object;
    if (entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR) {
        const KL_String title = KL_FilePath::BaseName(file_path, keep_extension);
        if (title.IsEmpty() || !IsListable(file_path, entry, context)) {
            return nullptr;
        }
        UP_MediaResource resource;
        resource.m_ProtocolInfo = UP_ProtocolInfo::ForFile(file_path, true, &context);
        resource.m_Size = entry.m_Size;
        object = std::make_unique<UP_MediaItem>();
        object->m_Title = title;
        object->m_ClassType = UP_MediaObject::ClassForFile(file_path, &context);
        const KL_String relative = GetRelativePath(file_path);
        for (const KL_IpAddress& address : hosts.m_Addresses) {
            resource.m_Uri =
                BuildResourceUri(hosts.m_BaseUrl, address.ToString().GetChars(), relative.GetChars());
            if (KL_FAILED(object->AddResource(resource)) || !all_addresses) {
                break;
            }
        }
    } else if (entry.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY) {
        const KL_String title =
            IsRoot(file_path) ? KL_String("Root") : KL_FilePath::BaseName(file_path, keep_extension);
        if (title.IsEmpty()) {
            return nullptr;
        }
        auto container = std::make_unique<UP_MediaContainer>();
        KL_LargeSize count = 0;
        if (with_count && KL_SUCCEEDED(KL_File::GetSize(file_path, count))) {
            container->m_ChildCount = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(count);
        }
        container->m_Title = title;
        container->m_ClassType = "object.container.storageFolder";
        object = std::move(container);
    } else {
        return nullptr;
    }
    object->m_ObjectId = GetObjectId(file_path);
    object->m_ParentId = IsRoot(file_path) ? KL_String("-1") : GetParentId(file_path);
    return object.release();
}
