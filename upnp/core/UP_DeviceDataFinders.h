// Finder objects over a device's embedded devices and services, applied with
// KL_ContainerFind. Every text is compared ignoring case. The URL finders compare a service's
// URL in its absolute form when the searched URL begins with "http://", else in its relative
// form (path and query, beginning with "/").
#pragma once

#include "KL_Reference.h"
#include "KL_String.h"
#include "UP_DeviceData.h"
#include "UP_Service.h"

class UP_DeviceDataFinder {
public:
    explicit UP_DeviceDataFinder(const char* uuid) : m_UUID(uuid) {}
    bool operator()(const KL_Reference<UP_DeviceData>& device) const {
        return !device.IsNull() && device->GetUUID().Compare(m_UUID.GetChars(), true) == 0;
    }

private:
    KL_String m_UUID;
};

class UP_DeviceDataFinderByType {
public:
    explicit UP_DeviceDataFinderByType(const char* type) : m_Type(type) {}
    bool operator()(const KL_Reference<UP_DeviceData>& device) const {
        return !device.IsNull() && device->GetDeviceType().Compare(m_Type.GetChars(), true) == 0;
    }

private:
    KL_String m_Type;
};

class UP_ServiceIDFinder {
public:
    explicit UP_ServiceIDFinder(const char* id) : m_Id(id) {}
    bool operator()(const UP_Service* service) const {
        return service->GetServiceID().Compare(m_Id.GetChars(), true) == 0;
    }

private:
    KL_String m_Id;
};

// A searched type ending in "*" matches every type that begins with the text before it.
class UP_ServiceTypeFinder {
public:
    explicit UP_ServiceTypeFinder(const char* type) : m_Type(type) {}
    bool operator()(const UP_Service* service) const {
        if (m_Type.EndsWith("*")) {
            KL_Size length = m_Type.GetLength() - 1;
            return service->GetServiceType().CompareN(m_Type.GetChars(), length, true) == 0 &&
                   service->GetServiceType().GetLength() >= length;
        }
        return service->GetServiceType().Compare(m_Type.GetChars(), true) == 0;
    }

private:
    KL_String m_Type;
};

class UP_ServiceNameFinder {
public:
    explicit UP_ServiceNameFinder(const char* name) : m_Name(name) {}
    bool operator()(const UP_Service* service) const {
        return service->GetServiceName().Compare(m_Name.GetChars(), true) == 0;
    }

private:
    KL_String m_Name;
};

class UP_ServiceURLFinder {
public:
    explicit UP_ServiceURLFinder(const char* url)
        : m_Url(url), m_Absolute(m_Url.StartsWith("http://", true)) {}

protected:
    bool Matches(const KL_String& service_url) const {
        return service_url.Compare(m_Url.GetChars(), true) == 0;
    }

    KL_String m_Url;
    bool m_Absolute;
};

class UP_ServiceSCPDURLFinder : public UP_ServiceURLFinder {
public:
    using UP_ServiceURLFinder::UP_ServiceURLFinder;
    bool operator()(const UP_Service* service) const { return Matches(service->GetSCPDURL(m_Absolute)); }
};

class UP_ServiceControlURLFinder : public UP_ServiceURLFinder {
public:
    using UP_ServiceURLFinder::UP_ServiceURLFinder;
    bool operator()(const UP_Service* service) const { return Matches(service->GetControlURL(m_Absolute)); }
};

class UP_ServiceEventSubURLFinder : public UP_ServiceURLFinder {
public:
    using UP_ServiceURLFinder::UP_ServiceURLFinder;
    bool operator()(const UP_Service* service) const { return Matches(service->GetEventSubURL(m_Absolute)); }
};
