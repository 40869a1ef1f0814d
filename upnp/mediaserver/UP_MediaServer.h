// UP_MediaServer: the UPnP AV MediaServer:1 root device. It sets up the ContentDirectory:1 and
// ConnectionManager:1 services from the two SCPD texts it carries, answers the ConnectionManager
// and capability actions itself, checks the arguments of Browse and Search, and hands the content
// work to its UP_MediaServerDelegate (not owned; UP_FileMediaServer joins both in one object).
//
//   UP_FileMediaServer server("/srv/media", "Living room");   // a UP_MediaServer + delegate
//   KL_CHECK(server.Start());
//
// Actions arrive on the device host's connection threads, several at once; the server keeps no
// state of its own beyond the delegate pointer and the services' state variables.
#pragma once

#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"
#include "UP_DeviceHost.h"

#include <cstdint>

class UP_MediaServerDelegate;

class UP_MediaServer : public UP_DeviceHost {
public:
    UP_MediaServer(const char* friendly_name, bool show_ip = false, const char* uuid = nullptr,
                   uint16_t port = 0, bool allow_port_rebind = false);
    ~UP_MediaServer() override = default;

    KL_Result SetupServices() override;
    KL_Result OnAction(UP_ActionCall& action, const KL_HttpRequestContext& context) override;
    // KL_ERROR_NO_SUCH_ITEM without a delegate; else the delegate's ProcessFileRequest.
    KL_Result ProcessHttpGetRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                    KL_HttpResponse& response) override;

    virtual void SetDelegate(UP_MediaServerDelegate* delegate) { m_Delegate = delegate; }
    UP_MediaServerDelegate* GetDelegate() const { return m_Delegate; }

    virtual KL_Result OnGetCurrentConnectionIDs(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnGetProtocolInfo(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnGetCurrentConnectionInfo(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnGetSortCapabilities(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnGetSearchCapabilities(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnGetSystemUpdateID(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnBrowse(UP_ActionCall& action, const KL_HttpRequestContext& context);
    virtual KL_Result OnSearch(UP_ActionCall& action, const KL_HttpRequestContext& context);
    // KL_ERROR_NOT_IMPLEMENTED without a delegate; else the delegate's operation of that name.
    virtual KL_Result OnBrowseMetadata(UP_ActionCall* action, const char* object_id, const char* filter,
                                       KL_Cardinal starting_index, KL_Cardinal requested_count,
                                       const char* sort_criteria, const KL_HttpRequestContext& context);
    virtual KL_Result OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id, const char* filter,
                                             KL_Cardinal starting_index, KL_Cardinal requested_count,
                                             const char* sort_criteria, const KL_HttpRequestContext& context);
    virtual KL_Result OnSearchContainer(UP_ActionCall* action, const char* container_id,
                                        const char* search_criteria, const char* filter,
                                        KL_Cardinal starting_index, KL_Cardinal requested_count,
                                        const char* sort_criteria, const KL_HttpRequestContext& context);

    // Checks SortCriteria ("+ns:prop,-ns:prop"; "" and "*" are empty): 0, or -1 for the first
    // property without a sign or a namespace prefix. Nothing sorts by them.
    static KL_Result ParseSort(const char* sort_criteria, KL_List<KL_String>& list);

    // The two service descriptions served at the SCPD URLs (after the service's own rewrite).
    static const char* const ContentDirectorySCPD;
    static const char* const ConnectionManagerSCPD;

private:
    // Reads StartingIndex and RequestedCount (relaxed); false when either is not a number.
    static bool ReadRange(const UP_ActionCall& action, KL_Cardinal& starting_index,
                          KL_Cardinal& requested_count);

    UP_MediaServerDelegate* m_Delegate = nullptr;
};
