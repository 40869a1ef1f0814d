// UP_DeviceIcon: one icon of a device description (the device keeps copies).
#pragma once

#include "KL_String.h"

#include <cstdint>

class UP_DeviceIcon {
public:
    UP_DeviceIcon() = default;
    UP_DeviceIcon(const char* mime_type, int32_t width, int32_t height, int32_t depth, const char* url_path)
        : m_MimeType(mime_type), m_Width(width), m_Height(height), m_Depth(depth), m_UrlPath(url_path) {}
    UP_DeviceIcon(const UP_DeviceIcon&) = default;
    UP_DeviceIcon& operator=(const UP_DeviceIcon&) = default;
    virtual ~UP_DeviceIcon() = default;

    KL_String m_MimeType;
    int32_t m_Width = 0;
    int32_t m_Height = 0;
    int32_t m_Depth = 0;
    KL_String m_UrlPath; // relative to the URL base, or absolute
};
