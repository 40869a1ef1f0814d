// UP_MediaResource: one "res" entry of a media object: where the media can be fetched, how (its
// protocolInfo) and what is known about it. Unknown numbers hold their all-ones value.
#pragma once

#include "KL_String.h"
#include "UP_ProtocolInfo.h"

#include <cstdint>

// "Not known" for the 32-bit and 64-bit numbers of a resource.
constexpr uint32_t UP_MEDIA_RESOURCE_UNKNOWN = 0xFFFFFFFFu;
constexpr uint64_t UP_MEDIA_RESOURCE_UNKNOWN_SIZE = 0xFFFFFFFFFFFFFFFFull;

class UP_MediaResource {
public:
    KL_String m_Uri;                // percent-encoded, written as it is
    UP_ProtocolInfo m_ProtocolInfo; // empty and not valid by default
    KL_String m_ProtocolInfoText;   // when not empty, written as the protocolInfo instead of m_ProtocolInfo
    uint32_t m_Duration = UP_MEDIA_RESOURCE_UNKNOWN;  // seconds
    uint64_t m_Size = UP_MEDIA_RESOURCE_UNKNOWN_SIZE; // bytes
    KL_String m_Protection;
    uint32_t m_Bitrate = UP_MEDIA_RESOURCE_UNKNOWN;
    uint32_t m_BitsPerSample = UP_MEDIA_RESOURCE_UNKNOWN;
    uint32_t m_SampleFrequency = UP_MEDIA_RESOURCE_UNKNOWN;
    uint32_t m_NbAudioChannels = UP_MEDIA_RESOURCE_UNKNOWN;
    KL_String m_Resolution;
};
