// The SSDP group, port and limits shared by the SSDP classes.
#pragma once

#include "KL_Types.h"

#define UP_SSDP_MULTICAST_ADDRESS "239.255.255.250"
#define UP_SSDP_HOST "239.255.255.250:1900"
constexpr uint16_t UP_SSDP_PORT = 1900;
// Datagram buffers: what the listen task reads (longer datagrams are cut), what a search sends.
constexpr KL_Size UP_SSDP_INPUT_DATAGRAM_SIZE = 2000;
constexpr KL_Size UP_SSDP_OUTPUT_DATAGRAM_SIZE = 4096;
// At most this many M-SEARCH answers wait per device host; beyond, a search is answered at once.
constexpr int UP_SSDP_MAX_PENDING_SEARCHES = 4096;
// At most this many search answer datagrams a second go to one host; the excess is dropped.
constexpr int UP_SSDP_MAX_ANSWERS_PER_SECOND = 100;
// The "Server" text of every NOTIFY alive and search response.
#define UP_SSDP_SERVER_HEADER "UPnP/1.0 DLNADOC/1.50 Lanyard/1.0.0"
