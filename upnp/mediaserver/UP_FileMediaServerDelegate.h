// UP_FileMediaServerDelegate: the UP_MediaServerDelegate that publishes one folder of the file
// system. Object ids are paths below the folder ("0" the folder itself, "0/Movies/a.mp4" a file
// in its sub-folder Movies), every sub-folder is a container, every regular file an item with one
// resource URL per host address; a GET of a resource URL streams the file.
//
// Only what UP_MediaFolder publishes is listed, reachable by id or served: ids and URLs with ".",
// ".." or hidden components, names that cannot be object ids, links that lead out of the folder,
// FIFOs, sockets and devices are refused. Every path is resolved and opened once, beneath the
// shared folder's descriptor: a folder is listed through the descriptor that was checked, a file
// served from the descriptor that was stat'ed. A listing stats each entry once, works out each
// file extension's kind once and writes DIDL-Lite only for the requested page, at most 1000
// objects per answer; a container's childCount is what a Browse of it lists. With the cache on, a
// folder's sorted listing is kept while the folder does not change (its modification and
// status-change times to the nanosecond) and answers for its entries without a stat.
//
// The shared folder is followed by its path (UP_FollowedFolder): each request takes the folder the
// path names as it starts, with one stat, and keeps that folder to its end; every call below that
// touches the folder gets it from the request. A relative root is made absolute, against the
// current directory, at construction.
//
// The fields do not change after construction; the followed folder and the listing cache (one per
// opened folder) lock themselves.
#pragma once

#include "KL_Array.h"
#include "KL_HttpUrl.h"
#include "KL_IpAddress.h"
#include "KL_List.h"
#include "KL_Map.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "UP_FollowedFolder.h"
#include "UP_MediaFolder.h"
#include "UP_MediaServerDelegate.h"
#include "UP_ProtocolInfo.h"

#include <map>
#include <memory>
#include <string>
#include <tuple>

class KL_Url;
class UP_MediaObject;

class UP_FileMediaServerDelegate : public UP_MediaServerDelegate {
public:
    // url_root: the path prefix of resource URLs ("/"). file_root: the shared folder (trailing
    // separators trimmed, "/" kept; a relative one is taken from the current directory).
    UP_FileMediaServerDelegate(const char* url_root, const char* file_root, bool use_cache = false);
    ~UP_FileMediaServerDelegate() override = default;

    KL_Result OnBrowseMetadata(UP_ActionCall* action, const char* object_id, const char* filter,
                               KL_Cardinal starting_index, KL_Cardinal requested_count,
                               const char* sort_criteria, const KL_HttpRequestContext& context) override;
    KL_Result OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id, const char* filter,
                                     KL_Cardinal starting_index, KL_Cardinal requested_count,
                                     const char* sort_criteria,
                                     const KL_HttpRequestContext& context) override;
    KL_Result OnSearchContainer(UP_ActionCall* action, const char* container_id, const char* search_criteria,
                                const char* filter, KL_Cardinal starting_index, KL_Cardinal requested_count,
                                const char* sort_criteria, const KL_HttpRequestContext& context) override;
    KL_Result ProcessFileRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                 KL_HttpResponse& response) override;

    // The file path (below the root, decoded) of a resource URL; -1 when it is not one.
    virtual KL_Result ExtractResourcePath(const KL_Url& url, KL_String& file_path);
    // base_url with the host replaced and the path base + "%/" + file_path (percent-encoded).
    virtual KL_String BuildResourceUri(const KL_HttpUrl& base_url, const char* host, const char* file_path);
    virtual KL_Result ServeFile(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                KL_HttpResponse& response, const char* file_path);
    // The path an object id names: root + id without its leading "0". -20000 for null; -1 for an
    // id other than "0" that does not begin with "0/" or holds an unpublishable component.
    virtual KL_Result GetFilePath(const char* object_id, KL_String& file_path);
    // True for every path (a hook for subclasses).
    virtual bool ProcessFile(const char* file_path, const char* filter);
    // The item or container of a published path, or null (caller owns it).
    virtual UP_MediaObject* BuildFromFilePath(const char* file_path, const KL_HttpRequestContext& context,
                                              bool with_count, bool keep_extension, bool all_addresses);

    void SetFilterUnknown(bool filter_unknown) { m_FilterUnknown = filter_unknown; }
    // The device's UUID, the prefix of the cache's keys.
    void SetCacheKeyPrefix(const char* prefix) { m_CacheKeyPrefix = prefix; }
    const KL_String& GetFileRoot() const { return m_FileRoot; }
    const KL_String& GetUrlRoot() const { return m_UrlRoot; }

    // The object id of a path below the root, and of its parent.
    KL_String GetObjectId(const char* file_path) const;
    KL_String GetParentId(const char* file_path) const;

private:
    using EntryList = UP_MediaFolder::EntryList;
    // What a file's extension means for the asking client. A request keeps those it looked up by
    // extension; the server keeps them by extension, client signature and filter (KnownKinds).
    struct FileKind {
        bool m_Listable = false;
        UP_ProtocolInfo m_ProtocolInfo;
        KL_String m_ProtocolInfoText; // its text, as a listing writes it
        KL_String m_ClassType;
    };
    using FileKinds = KL_Map<KL_String, std::shared_ptr<const FileKind>>;
    using KnownKinds = std::map<std::tuple<std::string, int, bool>, std::shared_ptr<const FileKind>>;
    static constexpr size_t kMaxKnownKinds = 256; // beyond: worked out for each request
    // What one request needs to build objects: the host addresses in URL order and the base URL.
    struct RequestHosts {
        KL_List<KL_IpAddress> m_Addresses;
        KL_HttpUrl m_BaseUrl;
        // BuildResourceUri of each address with an empty path: a file's URL is its prefix and the
        // file's percent-encoded path.
        KL_List<KL_String> m_UriPrefixes;
        bool m_Valid = false;
    };
    KL_Result GetRequestHosts(const KL_HttpRequestContext& context, bool all_addresses, RequestHosts& hosts);
    // The host's interface addresses (no loopback), kept a few seconds and listed again sooner
    // when the request's local address is not among them.
    KL_Result GetHostAddresses(const KL_IpAddress& local, KL_List<KL_IpAddress>& addresses);
    const FileKind& Classify(const char* name, const KL_HttpRequestContext& context, FileKinds& kinds) const;
    std::shared_ptr<const FileKind> MakeFileKind(const char* name,
                                                 const KL_HttpRequestContext& context) const;
    // Whether an entry is listed (containers always; files by their kind).
    bool IsListable(const UP_MediaFolder::Entry& entry, const KL_HttpRequestContext& context,
                    FileKinds& kinds) const;
    // BuildFromFilePath with the Browse filter (handed to ProcessFile when counting children).
    UP_MediaObject* BuildFromPath(const UP_MediaFolder& share, const char* file_path, const char* filter,
                                  const KL_HttpRequestContext& context, bool with_count, bool keep_extension,
                                  bool all_addresses);
    // Builds the object of an inspected entry; null when it has no title or no usable type.
    // listing_parent_id: for a listing, the parent id every entry of the page shares; a listed
    // object is only written, so its resources carry just the protocolInfo text.
    UP_MediaObject* BuildFromEntry(const UP_MediaFolder& share, const char* file_path,
                                   const UP_MediaFolder::Entry& entry, const char* filter,
                                   const KL_HttpRequestContext& context, const RequestHosts& hosts,
                                   bool with_count, bool keep_extension, bool all_addresses, FileKinds& kinds,
                                   const KL_String* listing_parent_id = nullptr);
    // The cached listing of the folder when the cache is on and the folder has not changed since
    // (key: the folder's key in the cache, set whenever the cache is on).
    bool GetCachedEntries(const UP_MediaFolder& share, const char* folder,
                          const UP_MediaFolder::Entry& folder_entry, KL_Reference<EntryList>& entries,
                          KL_String& key);
    // The published entries of the folder open at folder_fd, oldest first: from the cache when it
    // is on and the folder has not changed since, else listed afresh through folder_fd.
    KL_Result ListEntries(const UP_MediaFolder& share, const char* folder, int folder_fd,
                          const UP_MediaFolder::Entry& folder_entry, KL_Reference<EntryList>& entries);
    // Whether Browse lists the entry (path: the folder's path and "/" in its first folder_length
    // characters; the entry's name is put after them).
    bool IsListed(KL_String& path, KL_Size folder_length, const UP_MediaFolder::Entry& entry,
                  const char* filter, const KL_HttpRequestContext& context, FileKinds& kinds);
    // The listed entries of the requested page (at most 1000), and the number of all listed ones.
    KL_Result SelectPage(const char* folder, const EntryList& entries, const char* filter,
                         KL_Cardinal starting_index, KL_Cardinal requested_count,
                         const KL_HttpRequestContext& context, FileKinds& kinds, EntryList& page,
                         KL_Cardinal& total);
    // How many entries a Browse of the folder lists; unknown when it cannot be opened.
    int32_t CountChildren(const UP_MediaFolder& share, const char* folder, const char* filter,
                          const KL_HttpRequestContext& context, FileKinds& kinds);
    // The path after the root, without its leading separator.
    KL_String GetRelativePath(const char* file_path) const;
    bool IsRoot(const char* file_path) const;

    KL_String m_UrlRoot;
    KL_String m_FileRoot;
    bool m_FilterUnknown = false;
    bool m_UseCache;
    UP_FollowedFolder m_Folder;
    KL_String m_CacheKeyPrefix;
    mutable KL_Mutex m_KindsMutex; // guards m_KnownKinds
    mutable KnownKinds m_KnownKinds;
    KL_Mutex m_AddressesMutex; // guards the three fields below
    KL_List<KL_IpAddress> m_Addresses;
    KL_TimeStamp m_AddressesTime;
    bool m_AddressesKnown = false;
};
