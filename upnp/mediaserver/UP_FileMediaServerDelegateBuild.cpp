// UP_FileMediaServerDelegate: media objects built from files and folders.
#include "KL_Check.h"
#include "KL_FilePath.h"
#include "KL_HttpRequestContext.h"
#include "KL_IpAddress.h"
#include "KL_Log.h"
#include "KL_Mutex.h"
#include "KL_System.h"
#include "KL_Uri.h"
#include "UP_FileMediaServerDelegate.h"
#include "UP_MediaContainer.h"
#include "UP_MediaItem.h"
#include "UP_UPnPMessageHelper.h"

#include <cstring>
#include <memory>

KL_SET_LOCAL_LOGGER("upnp.media.file");

namespace {

// The host's interface addresses are listed again after this long, or when a request arrives on
// an address not in the list.
constexpr KL_TimeStamp kAddressesLifetime = KL_TimeStamp::FromNanos(5 * KL_TimeStamp::NANOS_PER_SECOND);

} // namespace

KL_Result UP_FileMediaServerDelegate::GetHostAddresses(const KL_IpAddress& local,
                                                       KL_List<KL_IpAddress>& addresses) {
    KL_TimeStamp now;
    (void)KL_System::GetCurrentTimeStamp(now);
    KL_AutoLock lock(m_AddressesMutex);
    const KL_TimeStamp age = now - m_AddressesTime;
    // Loopback is never in the list; another address that is not may have come up since.
    const bool unknown =
        local != KL_IpAddress::Any && (local.AsLong() >> 24) != 127 && !m_Addresses.Contains(local);
    if (!m_AddressesKnown || unknown || !(age < kAddressesLifetime) || now < m_AddressesTime) {
        KL_List<KL_IpAddress> fresh;
        KL_Result result = UP_UPnPMessageHelper::GetIPAddresses(fresh, false);
        if (KL_FAILED(result)) {
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(UP_UPnPMessageHelper::GetIPAddresses(ips))");
            return result;
        }
        m_Addresses = fresh;
        m_AddressesTime = now;
        m_AddressesKnown = true;
    }
    addresses = m_Addresses;
    return KL_SUCCESS;
}

KL_Result UP_FileMediaServerDelegate::GetRequestHosts(const KL_HttpRequestContext& context,
                                                      bool all_addresses, RequestHosts& hosts) {
    hosts.m_Addresses.Clear();
    const KL_IpAddress& local = context.GetLocalAddress().m_IpAddress;
    // The request's own address comes first, and without "ALLIP" it is the only one used: the
    // interface list is needed only for the others, or when the local address is not known.
    if (all_addresses || local == KL_IpAddress::Any) {
        const KL_Result result = GetHostAddresses(local, hosts.m_Addresses);
        if (KL_FAILED(result)) {
            return result; // logged
        }
    }
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
    hosts.m_UriPrefixes.Clear();
    for (const KL_IpAddress& address : hosts.m_Addresses) {
        KL_CHECK(
            hosts.m_UriPrefixes.Add(BuildResourceUri(hosts.m_BaseUrl, address.ToString().GetChars(), "")));
    }
    hosts.m_Valid = true;
    return KL_SUCCESS;
}

// MIME type, protocol info and class all follow from the text after the name's last "." and the
// client's signature: the request's own kinds first, then the server's, else worked out.
const UP_FileMediaServerDelegate::FileKind&
UP_FileMediaServerDelegate::Classify(const char* name, const KL_HttpRequestContext& context,
                                     FileKinds& kinds) const {
    const char* dot = std::strrchr(name, '.');
    const char* extension_text = dot != nullptr ? dot : "";
    for (FileKinds::Entry* known : kinds.GetEntries()) {
        if (known->GetKey() == extension_text) {
            return *known->GetValue();
        }
    }
    const auto key = std::make_tuple(std::string(extension_text),
                                     int(UP_ProtocolInfo::GetSignature(&context)), m_FilterUnknown);
    std::shared_ptr<const FileKind> kind;
    {
        KL_AutoLock lock(m_KindsMutex);
        const auto found = m_KnownKinds.find(key);
        if (found != m_KnownKinds.end()) {
            kind = found->second;
        }
    }
    if (kind == nullptr) {
        kind = MakeFileKind(name, context);
        KL_AutoLock lock(m_KindsMutex);
        if (m_KnownKinds.size() < kMaxKnownKinds) {
            (void)m_KnownKinds.emplace(key, kind);
        }
    }
    std::shared_ptr<const FileKind>* kept = nullptr;
    if (KL_SUCCEEDED(kinds.Put(KL_String(extension_text), kind)) &&
        KL_SUCCEEDED(kinds.Get(KL_String(extension_text), kept)) && kept != nullptr) {
        return **kept;
    }
    static const FileKind kUnlisted;
    return kUnlisted;
}

std::shared_ptr<const UP_FileMediaServerDelegate::FileKind>
UP_FileMediaServerDelegate::MakeFileKind(const char* name, const KL_HttpRequestContext& context) const {
    auto kind = std::make_shared<FileKind>();
    kind->m_ProtocolInfo = UP_ProtocolInfo::ForFile(name, true, &context);
    kind->m_ProtocolInfoText = UP_ProtocolInfo::ToText(kind->m_ProtocolInfo);
    kind->m_Listable = kind->m_ProtocolInfo.IsValid();
    if (m_FilterUnknown && UP_ProtocolInfo::GetMimeType(name, &context) == "application/octet-stream") {
        kind->m_Listable = false;
    }
    kind->m_ClassType = UP_MediaObject::ClassForFile(name, &context);
    return kind;
}

bool UP_FileMediaServerDelegate::IsListable(const UP_MediaFolder::Entry& entry,
                                            const KL_HttpRequestContext& context, FileKinds& kinds) const {
    // Entries come from UP_MediaFolder, whose names always keep a title.
    return entry.m_Type != KL_FileInfo::FILE_TYPE_REGULAR ||
           Classify(entry.m_Name.GetChars(), context, kinds).m_Listable;
}

UP_MediaObject* UP_FileMediaServerDelegate::BuildFromFilePath(const char* file_path,
                                                              const KL_HttpRequestContext& context,
                                                              bool with_count, bool keep_extension,
                                                              bool all_addresses) {
    return BuildFromPath(*m_Folder.Current(), file_path, nullptr, context, with_count, keep_extension,
                         all_addresses);
}

UP_MediaObject* UP_FileMediaServerDelegate::BuildFromPath(const UP_MediaFolder& share, const char* file_path,
                                                          const char* filter,
                                                          const KL_HttpRequestContext& context,
                                                          bool with_count, bool keep_extension,
                                                          bool all_addresses) {
    if (file_path == nullptr) {
        return nullptr;
    }
    KL_LOG_FINEST("Building didl for file '%s'", file_path);
    UP_MediaFolder::Entry entry;
    KL_Result result = share.Inspect(file_path, entry);
    if (KL_FAILED(result)) {
        KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, "(KL_File::GetInfo(filepath, &info))");
        return nullptr;
    }
    RequestHosts hosts;
    if (entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR &&
        KL_FAILED(GetRequestHosts(context, all_addresses, hosts))) {
        return nullptr;
    }
    FileKinds kinds;
    return BuildFromEntry(share, file_path, entry, filter, context, hosts, with_count, keep_extension,
                          all_addresses, kinds);
}

UP_MediaObject* UP_FileMediaServerDelegate::BuildFromEntry(
    const UP_MediaFolder& share, const char* file_path, const UP_MediaFolder::Entry& entry,
    const char* filter, const KL_HttpRequestContext& context, const RequestHosts& hosts, bool with_count,
    bool keep_extension, bool all_addresses, FileKinds& kinds, const KL_String* listing_parent_id) {
    std::unique_ptr<UP_MediaObject> object;
    if (entry.m_Type == KL_FileInfo::FILE_TYPE_REGULAR) {
        const KL_String title = KL_FilePath::BaseName(entry.m_Name.GetChars(), keep_extension);
        const FileKind& kind = Classify(entry.m_Name.GetChars(), context, kinds);
        if (title.IsEmpty() || !kind.m_Listable) {
            return nullptr;
        }
        object = std::make_unique<UP_MediaItem>();
        object->m_Title = title;
        object->m_ClassType = kind.m_ClassType;
        // The path below the root makes both the id (as GetObjectId) and the URL (as BuildResourceUri
        // with the path: percent-encoding goes character by character).
        const KL_String relative = GetRelativePath(file_path);
        object->m_ObjectId = IsRoot(file_path) ? KL_String("0") : "0/" + relative;
        const KL_String encoded = KL_Uri::PercentEncode(relative.GetChars(), KL_Uri::PathCharsToEncode, true);
        for (const KL_String& prefix : hosts.m_UriPrefixes) {
            if (KL_FAILED(object->AddResource(UP_MediaResource()))) {
                break;
            }
            UP_MediaResource& resource = object->m_Resources[object->m_Resources.GetItemCount() - 1];
            if (listing_parent_id != nullptr && !kind.m_ProtocolInfoText.IsEmpty()) {
                resource.m_ProtocolInfoText = kind.m_ProtocolInfoText;
            } else {
                resource.m_ProtocolInfo = kind.m_ProtocolInfo;
            }
            resource.m_Size = entry.m_Size;
            resource.m_Uri = prefix;
            resource.m_Uri += encoded;
            if (!all_addresses) {
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
        if (with_count) {
            container->m_ChildCount =
                CountChildren(share, file_path, filter, context, kinds); // what Browse lists
        }
        container->m_Title = title;
        container->m_ClassType = "object.container.storageFolder";
        object = std::move(container);
    } else {
        return nullptr;
    }
    if (object->m_ObjectId.IsEmpty()) {
        object->m_ObjectId = GetObjectId(file_path);
    }
    if (IsRoot(file_path)) {
        object->m_ParentId = "-1";
    } else if (listing_parent_id != nullptr) {
        object->m_ParentId = *listing_parent_id;
    } else {
        object->m_ParentId = GetParentId(file_path);
    }
    return object.release();
}
