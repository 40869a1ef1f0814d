// UP_MediaServer: service setup, action dispatch and the argument checks of Browse and Search.
#include "UP_MediaServer.h"

#include "KL_Check.h"
#include "KL_HttpRequestContext.h"
#include "KL_Log.h"
#include "KL_TimeStamp.h"
#include "UP_ActionCall.h"
#include "UP_MediaServerDelegate.h"
#include "UP_Service.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.media.server");

namespace {

constexpr const char* kSearchCapability =
    "@id,@refID,dc:title,upnp:class,upnp:genre,upnp:artist,upnp:author,upnp:author@role,upnp:album,"
    "dc:creator,res@size,res@duration,res@protocolInfo,res@protection,dc:publisher,dc:language,"
    "upnp:originalTrackNumber,dc:date,upnp:producer,upnp:rating,upnp:actor,upnp:director,upnp:toc,"
    "dc:description,microsoft:userRatingInStars,microsoft:userEffectiveRatingInStars,microsoft:userRating,"
    "microsoft:userEffectiveRating,microsoft:serviceProvider,microsoft:artistAlbumArtist,"
    "microsoft:artistPerformer,microsoft:artistConductor,microsoft:authorComposer,"
    "microsoft:authorOriginalLyricist,microsoft:authorWriter,upnp:userAnnotation,upnp:channelName,"
    "upnp:longDescription,upnp:programTitle";
constexpr const char* kSortCapability =
    "dc:title,upnp:genre,upnp:album,dc:creator,res@size,res@duration,res@bitrate,dc:publisher,dc:language,"
    "upnp:originalTrackNumber,dc:date,upnp:producer,upnp:rating,upnp:actor,upnp:director,upnp:toc,"
    "dc:description,microsoft:year,microsoft:userRatingInStars,microsoft:userEffectiveRatingInStars,"
    "microsoft:userRating,microsoft:userEffectiveRating,microsoft:serviceProvider,microsoft:"
    "artistAlbumArtist,"
    "microsoft:artistPerformer,microsoft:artistConductor,microsoft:authorComposer,"
    "microsoft:authorOriginalLyricist,microsoft:authorWriter,microsoft:sourceUrl,upnp:userAnnotation,"
    "upnp:channelName,upnp:longDescription,upnp:programTitle";

enum class BrowseFlag { Invalid, Metadata, DirectChildren };

BrowseFlag ParseBrowseFlag(const KL_String& text) {
    if (text.Compare("BrowseMetadata", true) == 0) {
        return BrowseFlag::Metadata;
    }
    if (text.Compare("BrowseDirectChildren", true) == 0) {
        return BrowseFlag::DirectChildren;
    }
    return BrowseFlag::Invalid;
}

// Every argument of the list, read ignoring case; false when one is missing.
bool ReadArguments(const UP_ActionCall& action, const char* const* names, KL_String* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (KL_FAILED(action.GetArgumentValue(names[i], values[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

UP_MediaServer::UP_MediaServer(const char* friendly_name, bool show_ip, const char* uuid, uint16_t port,
                               bool allow_port_rebind)
    : UP_DeviceHost("/DeviceDescription.xml", uuid, "urn:schemas-upnp-org:device:MediaServer:1",
                    friendly_name, show_ip, port, allow_port_rebind) {
    m_ModelDescription = "Quenmark AV Media Server Device";
    m_ModelName = "AV Media Server Device";
    m_ModelURL = ""; // the project has no product page of its own yet
    m_DlnaDoc = "DMS-1.50";
}

KL_Result UP_MediaServer::SetupServices() {
    const KL_TimeStamp moderation(2.0);
    auto content =
        std::make_unique<UP_Service>(this, "urn:schemas-upnp-org:service:ContentDirectory:1",
                                     "urn:upnp-org:serviceId:ContentDirectory", "ContentDirectory");
    KL_CHECK_FATAL(content->SetSCPDXML(ContentDirectorySCPD));
    UP_Service* service = content.get();
    KL_CHECK_FATAL(AddService(service));
    (void)content.release(); // the device owns it now
    (void)service->SetStateVariable("ContainerUpdateIDs", "");
    (void)service->SetStateVariableRate("ContainerUpdateIDs", moderation);
    (void)service->SetStateVariable("SystemUpdateID", "0");
    (void)service->SetStateVariableRate("SystemUpdateID", moderation);
    // No variables of these names exist: GetSearchCapabilities and GetSortCapabilities answer "".
    (void)service->SetStateVariable("SearchCapability", kSearchCapability);
    (void)service->SetStateVariable("SortCapability", kSortCapability);

    auto connection =
        std::make_unique<UP_Service>(this, "urn:schemas-upnp-org:service:ConnectionManager:1",
                                     "urn:upnp-org:serviceId:ConnectionManager", "ConnectionManager");
    KL_CHECK_FATAL(connection->SetSCPDXML(ConnectionManagerSCPD));
    service = connection.get();
    KL_CHECK_FATAL(AddService(service));
    (void)connection.release();
    (void)service->SetStateVariable("CurrentConnectionIDs", "0");
    (void)service->SetStateVariable("SinkProtocolInfo", "");
    (void)service->SetStateVariable("SourceProtocolInfo", "http-get:*:*:*");
    return KL_SUCCESS;
}

KL_Result UP_MediaServer::OnAction(UP_ActionCall& action, const KL_HttpRequestContext& context) {
    using Handler = KL_Result (UP_MediaServer::*)(UP_ActionCall&, const KL_HttpRequestContext&);
    static const struct {
        const char* name;
        Handler handler;
    } kActions[] = {
        {"Browse", &UP_MediaServer::OnBrowse},
        {"Search", &UP_MediaServer::OnSearch},
        {"GetSystemUpdateID", &UP_MediaServer::OnGetSystemUpdateID},
        {"GetSortCapabilities", &UP_MediaServer::OnGetSortCapabilities},
        {"GetSearchCapabilities", &UP_MediaServer::OnGetSearchCapabilities},
        {"GetCurrentConnectionIDs", &UP_MediaServer::OnGetCurrentConnectionIDs},
        {"GetProtocolInfo", &UP_MediaServer::OnGetProtocolInfo},
        {"GetCurrentConnectionInfo", &UP_MediaServer::OnGetCurrentConnectionInfo},
    };
    const KL_String& name = action.GetActionDesc().GetName();
    for (const auto& entry : kActions) {
        if (name.Compare(entry.name, true) == 0) {
            return (this->*entry.handler)(action, context);
        }
    }
    action.SetActionError(UP_ACTION_ERROR_NO_SUCH_ACTION);
    return KL_SUCCESS;
}

KL_Result UP_MediaServer::ProcessHttpGetRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                                KL_HttpResponse& response) {
    if (m_Delegate == nullptr) {
        return KL_ERROR_NO_SUCH_ITEM;
    }
    return m_Delegate->ProcessFileRequest(request, context, response);
}

KL_Result UP_MediaServer::OnGetCurrentConnectionIDs(UP_ActionCall& action, const KL_HttpRequestContext&) {
    return action.SetArgumentsOutFromStateVariable();
}

KL_Result UP_MediaServer::OnGetProtocolInfo(UP_ActionCall& action, const KL_HttpRequestContext&) {
    return action.SetArgumentsOutFromStateVariable();
}

KL_Result UP_MediaServer::OnGetSortCapabilities(UP_ActionCall& action, const KL_HttpRequestContext&) {
    return action.SetArgumentsOutFromStateVariable();
}

KL_Result UP_MediaServer::OnGetSearchCapabilities(UP_ActionCall& action, const KL_HttpRequestContext&) {
    return action.SetArgumentsOutFromStateVariable();
}

KL_Result UP_MediaServer::OnGetSystemUpdateID(UP_ActionCall& action, const KL_HttpRequestContext&) {
    return action.SetArgumentsOutFromStateVariable();
}

KL_Result UP_MediaServer::OnGetCurrentConnectionInfo(UP_ActionCall& action, const KL_HttpRequestContext&) {
    if (KL_FAILED(action.VerifyArgumentValue("ConnectionID", "0"))) {
        action.SetActionError(UP_ACTION_ERROR_NO_SUCH_CONNECTION);
        return KL_FAILURE;
    }
    static const char* const kValues[][2] = {
        {"RcsID", "-1"},
        {"AVTransportID", "-1"},
        {"ProtocolInfo", "http-get:*:*:*"},
        {"PeerConnectionManager", "/"},
        {"PeerConnectionID", "-1"},
        {"Direction", "Output"},
        {"Status", "Unknown"},
    };
    for (const auto& value : kValues) {
        if (KL_FAILED(action.SetArgumentValue(value[0], value[1]))) {
            return KL_FAILURE;
        }
    }
    return KL_SUCCESS;
}

bool UP_MediaServer::ReadRange(const UP_ActionCall& action, KL_Cardinal& starting_index,
                               KL_Cardinal& requested_count) {
    KL_String start;
    KL_String count;
    (void)action.GetArgumentValue("StartingIndex", start);
    (void)action.GetArgumentValue("RequestedCount", count);
    return KL_SUCCEEDED(start.ToInteger(starting_index, true)) &&
           KL_SUCCEEDED(count.ToInteger(requested_count, true));
}

KL_Result UP_MediaServer::OnBrowse(UP_ActionCall& action, const KL_HttpRequestContext& context) {
    static const char* const kNames[] = {"ObjectId",      "BrowseFlag",     "Filter",
                                         "StartingIndex", "RequestedCount", "SortCriteria"};
    KL_String values[6];
    if (!ReadArguments(action, kNames, values, 6)) {
        KL_LOG_WARNING("Missing arguments");
        action.SetActionError(UP_ACTION_ERROR_INVALID_ARGS);
        return KL_SUCCESS;
    }
    const KL_String& object_id = values[0];
    const KL_String& filter = values[2];
    const KL_String& sort = values[5];
    const BrowseFlag flag = ParseBrowseFlag(values[1]);
    if (flag == BrowseFlag::Invalid) {
        KL_LOG_WARNING("BrowseFlag value not allowed (%s)", values[1].GetChars());
        action.SetActionError(UP_ACTION_ERROR_INVALID_ARGS);
        return KL_SUCCESS;
    }
    KL_Cardinal start = 0;
    KL_Cardinal count = 0;
    if (!ReadRange(action, start, count)) {
        KL_LOG_WARNING("Invalid arguments (%s, %s, %s)", values[1].GetChars(), values[3].GetChars(),
                       values[4].GetChars());
        action.SetActionError(UP_ACTION_ERROR_INVALID_ARGS);
        return KL_FAILURE;
    }
    KL_List<KL_String> sort_list;
    if (KL_FAILED(ParseSort(sort.GetChars(), sort_list))) {
        KL_LOG_WARNING("Unsupported or invalid sort criteria error (%s)", sort.GetChars());
        action.SetActionError(UP_ACTION_ERROR_INVALID_SORT_CRITERIA);
        return KL_FAILURE;
    }
    KL_LOG_FINE("Processing %s from %s with id=\"%s\", filter=\"%s\", start=%d, count=%d",
                values[1].GetChars(), context.GetRemoteAddress().ToString().GetChars(), object_id.GetChars(),
                filter.GetChars(), static_cast<int>(start), static_cast<int>(count));
    KL_Result result = flag == BrowseFlag::Metadata
                           ? OnBrowseMetadata(&action, object_id.GetChars(), filter.GetChars(), start, count,
                                              sort.GetChars(), context)
                           : OnBrowseDirectChildren(&action, object_id.GetChars(), filter.GetChars(), start,
                                                    count, sort.GetChars(), context);
    if (KL_FAILED(result) && action.GetActionErrorCode() == 0) {
        action.SetActionError(UP_ACTION_ERROR_INTERNAL);
    }
    return result;
}

KL_Result UP_MediaServer::OnSearch(UP_ActionCall& action, const KL_HttpRequestContext& context) {
    static const char* const kNames[] = {"ContainerId",   "SearchCriteria", "Filter",
                                         "StartingIndex", "RequestedCount", "SortCriteria"};
    KL_String values[6];
    if (!ReadArguments(action, kNames, values, 6)) {
        KL_LOG_WARNING("Missing arguments");
        action.SetActionError(UP_ACTION_ERROR_INVALID_ARGS);
        return KL_SUCCESS;
    }
    const KL_String& container_id = values[0];
    const KL_String& criteria = values[1];
    const KL_String& filter = values[2];
    const KL_String& sort = values[5];
    KL_Cardinal start = 0;
    KL_Cardinal count = 0;
    if (!ReadRange(action, start, count)) {
        KL_LOG_WARNING("Invalid arguments (%s, %s)", values[3].GetChars(), values[4].GetChars());
        action.SetActionError(UP_ACTION_ERROR_INVALID_ARGS);
        return KL_FAILURE;
    }
    KL_List<KL_String> sort_list;
    if (KL_FAILED(ParseSort(sort.GetChars(), sort_list))) {
        KL_LOG_WARNING("Unsupported or invalid sort criteria error (%s)", sort.GetChars());
        action.SetActionError(UP_ACTION_ERROR_INVALID_SORT_CRITERIA);
        return KL_FAILURE;
    }
    KL_LOG_INFO("Processing Search from %s with id=\"%s\", search=\"%s\", start=%d, count=%d",
                context.GetRemoteAddress().ToString().GetChars(), container_id.GetChars(),
                criteria.GetChars(), static_cast<int>(start), static_cast<int>(count));
    KL_Result result = !criteria.IsEmpty() && criteria != "*"
                           ? OnSearchContainer(&action, container_id.GetChars(), criteria.GetChars(),
                                               filter.GetChars(), start, count, sort.GetChars(), context)
                           : OnBrowseDirectChildren(&action, container_id.GetChars(), filter.GetChars(),
                                                    start, count, sort.GetChars(), context);
    if (KL_FAILED(result) && action.GetActionErrorCode() == 0) {
        action.SetActionError(UP_ACTION_ERROR_INTERNAL);
    }
    return result;
}

KL_Result UP_MediaServer::OnBrowseMetadata(UP_ActionCall* action, const char* object_id, const char* filter,
                                           KL_Cardinal starting_index, KL_Cardinal requested_count,
                                           const char* sort_criteria, const KL_HttpRequestContext& context) {
    if (m_Delegate == nullptr) {
        return KL_ERROR_NOT_IMPLEMENTED;
    }
    return m_Delegate->OnBrowseMetadata(action, object_id, filter, starting_index, requested_count,
                                        sort_criteria, context);
}

KL_Result UP_MediaServer::OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id,
                                                 const char* filter, KL_Cardinal starting_index,
                                                 KL_Cardinal requested_count, const char* sort_criteria,
                                                 const KL_HttpRequestContext& context) {
    if (m_Delegate == nullptr) {
        return KL_ERROR_NOT_IMPLEMENTED;
    }
    return m_Delegate->OnBrowseDirectChildren(action, object_id, filter, starting_index, requested_count,
                                              sort_criteria, context);
}

KL_Result UP_MediaServer::OnSearchContainer(UP_ActionCall* action, const char* container_id,
                                            const char* search_criteria, const char* filter,
                                            KL_Cardinal starting_index, KL_Cardinal requested_count,
                                            const char* sort_criteria, const KL_HttpRequestContext& context) {
    if (m_Delegate == nullptr) {
        return KL_ERROR_NOT_IMPLEMENTED;
    }
    return m_Delegate->OnSearchContainer(action, container_id, search_criteria, filter, starting_index,
                                         requested_count, sort_criteria, context);
}

KL_Result UP_MediaServer::ParseSort(const char* sort_criteria, KL_List<KL_String>& list) {
    list.Clear();
    const KL_String text(sort_criteria);
    if (text.IsEmpty() || text == "*") {
        return KL_SUCCESS;
    }
    list = text.Split(",");
    for (const KL_String& piece : list) {
        const bool signed_property = piece.StartsWith("-") || piece.StartsWith("+");
        if (!signed_property || piece.Split(":").GetItemCount() != 2) {
            KL_LOG_WARNING("Invalid SortCriteria property %s", piece.GetChars());
            return KL_FAILURE;
        }
    }
    return KL_SUCCESS;
}
