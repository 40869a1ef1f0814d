// UP_FileMediaServer: the media server joined with its file delegate.
#include "UP_FileMediaServer.h"

UP_FileMediaServer::UP_FileMediaServer(const char* file_root, const char* friendly_name, bool show_ip,
                                       const char* uuid, uint16_t port, bool allow_port_rebind)
    : UP_MediaServer(friendly_name, show_ip, uuid, port, allow_port_rebind),
      UP_FileMediaServerDelegate("/", file_root, true) {
    SetCacheKeyPrefix(GetUUID().GetChars());
    SetDelegate(this);
}
