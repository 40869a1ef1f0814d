// UP_MediaServerDelegate: what a media server (UP_MediaServer) asks of whoever owns the content:
// browse one object, list a container, search a container, and serve a media file. Every
// operation returns a result code and reports UPnP refusals (code and description) through the
// action call; the media server answers 800 "Internal error" for a failure that set none.
//
// The operations run on the device host's connection threads, several at once.
#pragma once

#include "KL_Result.h"
#include "KL_Types.h"

class KL_HttpRequest;
class KL_HttpRequestContext;
class KL_HttpResponse;
class UP_ActionCall;

class UP_MediaServerDelegate {
public:
    virtual ~UP_MediaServerDelegate() = default;

    // Browse with BrowseFlag "BrowseMetadata": the object itself.
    virtual KL_Result OnBrowseMetadata(UP_ActionCall* action, const char* object_id, const char* filter,
                                       KL_Cardinal starting_index, KL_Cardinal requested_count,
                                       const char* sort_criteria, const KL_HttpRequestContext& context) = 0;
    // Browse with BrowseFlag "BrowseDirectChildren" (and Search "*"): the container's children.
    virtual KL_Result OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id, const char* filter,
                                             KL_Cardinal starting_index, KL_Cardinal requested_count,
                                             const char* sort_criteria,
                                             const KL_HttpRequestContext& context) = 0;
    // Search with real criteria.
    virtual KL_Result OnSearchContainer(UP_ActionCall* action, const char* container_id,
                                        const char* search_criteria, const char* filter,
                                        KL_Cardinal starting_index, KL_Cardinal requested_count,
                                        const char* sort_criteria, const KL_HttpRequestContext& context) = 0;
    // A GET or HEAD that is neither the description nor an SCPD.
    virtual KL_Result ProcessFileRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                         KL_HttpResponse& response) = 0;
};
