// UP_FileMediaServer: a MediaServer device that publishes one folder: the media server
// (UP_MediaServer) and the file delegate (UP_FileMediaServerDelegate, URL root "/", listing cache
// on, so that paging through big folders does not list them again) in one object, the server's
// delegate wired to the object's own delegate part.
//
//   KL_Reference<UP_DeviceHost> device(new UP_FileMediaServer("/srv/media", "Living room"));
//   upnp.AddDevice(device);
#pragma once

#include "UP_FileMediaServerDelegate.h"
#include "UP_MediaServer.h"

class UP_FileMediaServer : public UP_MediaServer, public UP_FileMediaServerDelegate {
public:
    // uuid null: a new random one. port 0: the HTTP server picks a random port.
    UP_FileMediaServer(const char* file_root, const char* friendly_name, bool show_ip = false,
                       const char* uuid = nullptr, uint16_t port = 0, bool allow_port_rebind = false);
    ~UP_FileMediaServer() override = default;

    // Both bases declare these: the delegate part answers while it is the server's delegate;
    // otherwise the server's own forwarding runs (another delegate, or none: not implemented).
    KL_Result OnBrowseMetadata(UP_ActionCall* action, const char* object_id, const char* filter,
                               KL_Cardinal starting_index, KL_Cardinal requested_count,
                               const char* sort_criteria, const KL_HttpRequestContext& context) override {
        if (!IsOwnDelegate()) {
            return UP_MediaServer::OnBrowseMetadata(action, object_id, filter, starting_index,
                                                    requested_count, sort_criteria, context);
        }
        return UP_FileMediaServerDelegate::OnBrowseMetadata(action, object_id, filter, starting_index,
                                                            requested_count, sort_criteria, context);
    }
    KL_Result OnBrowseDirectChildren(UP_ActionCall* action, const char* object_id, const char* filter,
                                     KL_Cardinal starting_index, KL_Cardinal requested_count,
                                     const char* sort_criteria,
                                     const KL_HttpRequestContext& context) override {
        if (!IsOwnDelegate()) {
            return UP_MediaServer::OnBrowseDirectChildren(action, object_id, filter, starting_index,
                                                          requested_count, sort_criteria, context);
        }
        return UP_FileMediaServerDelegate::OnBrowseDirectChildren(action, object_id, filter, starting_index,
                                                                  requested_count, sort_criteria, context);
    }
    KL_Result OnSearchContainer(UP_ActionCall* action, const char* container_id, const char* search_criteria,
                                const char* filter, KL_Cardinal starting_index, KL_Cardinal requested_count,
                                const char* sort_criteria, const KL_HttpRequestContext& context) override {
        if (!IsOwnDelegate()) {
            return UP_MediaServer::OnSearchContainer(action, container_id, search_criteria, filter,
                                                     starting_index, requested_count, sort_criteria, context);
        }
        return UP_FileMediaServerDelegate::OnSearchContainer(action, container_id, search_criteria, filter,
                                                             starting_index, requested_count, sort_criteria,
                                                             context);
    }

private:
    bool IsOwnDelegate() const {
        return GetDelegate() == static_cast<const UP_MediaServerDelegate*>(
                                    static_cast<const UP_FileMediaServerDelegate*>(this));
    }
};
