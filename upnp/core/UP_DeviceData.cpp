#include "UP_DeviceData.h"

#include "KL_Check.h"
#include "KL_StringOutputStream.h"
#include "KL_System.h"
#include "KL_Utils.h"
#include "UP_DeviceDataFinders.h"
#include "UP_FrameworkDefaults.h"
#include "UP_Service.h"

KL_SET_LOCAL_LOGGER("upnp.core.device");

namespace {

// Depth first: each embedded device, then its own embedded devices.
template <typename F>
KL_Result FindDevice(const KL_Array<KL_Reference<UP_DeviceData>>& devices, const F& finder,
                     KL_Reference<UP_DeviceData>& out,
                     KL_Result (UP_DeviceData::*recurse)(const char*, KL_Reference<UP_DeviceData>&) const,
                     const char* text) {
    for (const KL_Reference<UP_DeviceData>& device : devices) {
        if (finder(device)) {
            out = device;
            return KL_SUCCESS;
        }
        if (!device.IsNull() && KL_SUCCEEDED(((*device).*recurse)(text, out))) {
            return KL_SUCCESS;
        }
    }
    return KL_FAILURE;
}

} // namespace

UP_DeviceData::UP_DeviceData(const char* description_url, const char* uuid, const KL_TimeStamp& lease_time,
                             const char* device_type, const char* friendly_name)
    : m_Manufacturer("Quenmark LLC"), m_UUID(uuid), m_DeviceType(device_type), m_FriendlyName(friendly_name) {
    if (m_UUID.IsEmpty() && KL_FAILED(GenerateUUID(m_UUID))) {
        KL_LOG_SEVERE("Failed to generate a device UUID");
    }
    SetLeaseTime(lease_time);
    if (description_url != nullptr) {
        SetDescriptionUrl(KL_HttpUrl(description_url));
    }
    UpdateConfigId();
}

UP_DeviceData::~UP_DeviceData() {
    // Derived classes call ClearChildren from their own destructors when they override it.
    UP_DeviceData::ClearChildren();
}

void UP_DeviceData::ClearChildren() {
    for (UP_Service* service : m_Services) {
        delete service;
    }
    m_Services.Clear();
    m_EmbeddedDevices.Clear();
    m_Icons.Clear();
}

KL_Result UP_DeviceData::AddCustomElements(KL_XmlElementNode*) const {
    return KL_SUCCESS;
}

KL_Result UP_DeviceData::GenerateUUID(KL_String& uuid) {
    uint8_t bytes[16];
    KL_CHECK_SEVERE(KL_System::GetRandomBytes(bytes, sizeof bytes));
    char text[37];
    char* out = text;
    for (int i = 0; i < 16; ++i, out += 2) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            *out++ = '-';
        }
        KL_ByteToHex(bytes[i], out);
    }
    *out = '\0';
    uuid = text;
    return KL_SUCCESS;
}

void UP_DeviceData::SetLeaseTime(const KL_TimeStamp& lease, const KL_TimeStamp& last_update) {
    m_LeaseTime = lease;
    if (lease.ToNanos() < 10000000000LL) {
        m_LeaseTime = UP_FrameworkDefaults::Instance().GetDefaultDeviceLease();
    }
    m_LeaseTimeLastUpdate = last_update;
    if (last_update == KL_TimeStamp() && KL_FAILED(KL_System::GetCurrentTimeStamp(m_LeaseTimeLastUpdate))) {
        m_LeaseTimeLastUpdate = KL_TimeStamp();
    }
}

KL_Result UP_DeviceData::SetURLBase(const KL_HttpUrl& url) {
    const KL_String& path = url.GetPath();
    int slash = path.ReverseFind('/');
    if (slash < 0) {
        return KL_FAILURE;
    }
    m_URLBase.SetScheme(url.GetScheme().GetChars());
    if (url.GetPort() != 0) {
        m_URLBase.SetPort(url.GetPort());
    }
    if (!url.GetHost().IsEmpty()) {
        m_URLBase.SetHost(url.GetHost().GetChars());
    }
    return m_URLBase.SetPathQueryFragment(path.Left(KL_Size(slash) + 1).GetChars());
}

KL_Result UP_DeviceData::SetDescriptionUrl(const KL_HttpUrl& url) {
    KL_CHECK_FATAL(SetURLBase(url));
    m_DescriptionURL = url;
    return KL_SUCCESS;
}

KL_String UP_DeviceData::GetDescriptionUrl(const char* bind_address) const {
    KL_HttpUrl url = m_DescriptionURL;
    if (bind_address != nullptr && *bind_address != '\0') {
        url.SetHost(bind_address);
    }
    return url.ToString();
}

KL_HttpUrl UP_DeviceData::GetURLBase() const {
    return m_URLBase;
}

KL_HttpUrl UP_DeviceData::NormalizeURL(const char* url) const {
    KL_String text(url);
    if (text.StartsWith("http://", true)) {
        return KL_HttpUrl(text.GetChars());
    }
    KL_HttpUrl result = m_URLBase;
    KL_String target = text.StartsWith("/") ? text : m_URLBase.GetPath() + text;
    if (KL_FAILED(result.SetPathQueryFragment(target.GetChars()))) {
        return KL_HttpUrl();
    }
    return result;
}

KL_String UP_DeviceData::GetIconUrl(const char* mime_type, int32_t max_size, int32_t max_depth) const {
    const UP_DeviceIcon* kept = nullptr;
    for (const UP_DeviceIcon& icon : m_Icons) {
        if ((mime_type != nullptr && *mime_type != '\0' && icon.m_MimeType != mime_type) ||
            (max_size > 0 && (icon.m_Width > max_size || icon.m_Height > max_size)) ||
            (max_depth > 0 && icon.m_Depth > max_depth) || icon.m_UrlPath.IsEmpty()) {
            continue;
        }
        int32_t width = kept ? kept->m_Width : 0;
        int32_t height = kept ? kept->m_Height : 0;
        int32_t depth = kept ? kept->m_Depth : 0;
        if (icon.m_Width > width && icon.m_Height > height && icon.m_Depth > depth) {
            kept = &icon;
        }
    }
    return kept ? NormalizeURL(kept->m_UrlPath.GetChars()).ToString() : KL_String();
}

uint32_t UP_DeviceData::MakeNextBootId() const {
    KL_TimeStamp now;
    if (KL_FAILED(KL_System::GetCurrentTimeStamp(now))) {
        return m_BootId + 1;
    }
    auto id = static_cast<uint32_t>(now.ToSeconds());
    return id == m_BootId ? id + 1 : id;
}

uint32_t UP_DeviceData::UpdateConfigId() {
    uint32_t random = 0;
    if (KL_FAILED(KL_System::GetRandomBytes(&random, sizeof random))) {
        random = KL_System::GetRandomInteger();
    }
    m_ConfigId = ChooseConfigId(random, m_ConfigId);
    return m_ConfigId;
}

uint32_t UP_DeviceData::ChooseConfigId(uint32_t random, uint32_t current) {
    uint32_t id = random & 0xFFFFFF;
    if (id == current) {
        id = id == 0 ? 1 : id - 1;
    }
    return id;
}

KL_Result UP_DeviceData::AddService(UP_Service* service) {
    KL_CHECK_POINTER(service);
    if (service->GetServiceType().IsEmpty() || service->GetServiceID().IsEmpty() ||
        service->GetSCPDURL().IsEmpty() || service->GetControlURL().IsEmpty() ||
        service->GetEventSubURL().IsEmpty()) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    UpdateConfigId();
    return m_Services.Add(service);
}

KL_Result UP_DeviceData::RemoveService(UP_Service* service) {
    for (KL_Index i = 0; i < m_Services.GetItemCount(); ++i) {
        if (m_Services[i] == service) {
            UpdateConfigId();
            return m_Services.Erase(i);
        }
    }
    return KL_ERROR_NO_SUCH_ITEM;
}

KL_Result UP_DeviceData::AddEmbeddedDevice(const KL_Reference<UP_DeviceData>& device) {
    if (device.IsNull()) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    UpdateConfigId();
    device->m_ParentUUID = m_UUID;
    return m_EmbeddedDevices.Add(device);
}

KL_Result UP_DeviceData::RemoveEmbeddedDevice(UP_DeviceData* device) {
    for (KL_Index i = 0; i < m_EmbeddedDevices.GetItemCount(); ++i) {
        if (m_EmbeddedDevices[i].AsPointer() == device) {
            UpdateConfigId();
            return m_EmbeddedDevices.Erase(i);
        }
    }
    return KL_ERROR_NO_SUCH_ITEM;
}

KL_Result UP_DeviceData::FindEmbeddedDevice(const char* uuid, KL_Reference<UP_DeviceData>& device) const {
    return FindDevice(m_EmbeddedDevices, UP_DeviceDataFinder(uuid), device,
                      &UP_DeviceData::FindEmbeddedDevice, uuid);
}

KL_Result UP_DeviceData::FindEmbeddedDeviceByType(const char* type,
                                                  KL_Reference<UP_DeviceData>& device) const {
    return FindDevice(m_EmbeddedDevices, UP_DeviceDataFinderByType(type), device,
                      &UP_DeviceData::FindEmbeddedDeviceByType, type);
}

KL_Result UP_DeviceData::FindServiceById(const char* id, UP_Service*& service) const {
    return KL_ContainerFind(m_Services, UP_ServiceIDFinder(id), service);
}

KL_Result UP_DeviceData::FindServiceByType(const char* type, UP_Service*& service) const {
    return KL_ContainerFind(m_Services, UP_ServiceTypeFinder(type), service);
}

KL_Result UP_DeviceData::FindServiceByName(const char* name, UP_Service*& service) const {
    return KL_ContainerFind(m_Services, UP_ServiceNameFinder(name), service);
}

#define UP_FIND_SERVICE_BY_URL(Finder, Self)                                                                 \
    if (KL_SUCCEEDED(KL_ContainerFind(m_Services, Finder(url), service))) {                                  \
        return KL_SUCCESS;                                                                                   \
    }                                                                                                        \
    if (recursive) {                                                                                         \
        for (const KL_Reference<UP_DeviceData>& device : m_EmbeddedDevices) {                                \
            if (!device.IsNull() && KL_SUCCEEDED(device->Self(url, service, true))) {                        \
                return KL_SUCCESS;                                                                           \
            }                                                                                                \
        }                                                                                                    \
    }                                                                                                        \
    return KL_FAILURE

KL_Result UP_DeviceData::FindServiceBySCPDURL(const char* url, UP_Service*& service, bool recursive) const {
    UP_FIND_SERVICE_BY_URL(UP_ServiceSCPDURLFinder, FindServiceBySCPDURL);
}

KL_Result UP_DeviceData::FindServiceByControlURL(const char* url, UP_Service*& service,
                                                 bool recursive) const {
    UP_FIND_SERVICE_BY_URL(UP_ServiceControlURLFinder, FindServiceByControlURL);
}

KL_Result UP_DeviceData::FindServiceByEventSubURL(const char* url, UP_Service*& service,
                                                  bool recursive) const {
    UP_FIND_SERVICE_BY_URL(UP_ServiceEventSubURLFinder, FindServiceByEventSubURL);
}

const KL_String& UP_DeviceData::GetSummaryText() {
    KL_StringOutputStream stream(4096);
    const KL_String pieces[] = {"Device GUID: " + m_UUID, "Device Type: " + m_DeviceType,
                                "Device Base Url: " + m_URLBase.ToString(),
                                "Device Friendly Name: " + m_FriendlyName};
    for (const KL_String& piece : pieces) {
        if (KL_FAILED(stream.WriteFully(piece.GetChars(), piece.GetLength()))) {
            break;
        }
    }
    m_Summary = stream.GetString();
    return m_Summary;
}
