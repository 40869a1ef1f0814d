// UP_DeviceData: the model of one UPnP device (identity, texts, URLs, lease, boot and
// configuration ids, icons, services, embedded devices) and the writer of its description
// document. The device host derives from it. A small reader (SetDescription) builds device data
// back from a description text.
//
// Services are owned (deleted by ClearChildren); embedded devices are counted references.
// The configuration id changes with every change of the service or device lists.
#pragma once

#include "KL_Array.h"
#include "KL_HttpUrl.h"
#include "KL_IpAddress.h"
#include "KL_Reference.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_TimeStamp.h"
#include "UP_DeviceIcon.h"

#include <cstdint>

class KL_HttpRequestContext;
class KL_XmlElementNode;
class UP_Service;

class UP_DeviceData {
public:
    // A null or empty UUID is replaced by a new random one.
    UP_DeviceData(const char* description_url, const char* uuid, const KL_TimeStamp& lease_time,
                  const char* device_type, const char* friendly_name);
    UP_DeviceData(const UP_DeviceData&) = delete;
    UP_DeviceData& operator=(const UP_DeviceData&) = delete;

    // The whole description document.
    virtual KL_Result GetDescription(KL_String& description) const;
    // The description URL's text, its host replaced by the bind address when one is given.
    virtual KL_String GetDescriptionUrl(const char* bind_address = nullptr) const;
    virtual KL_HttpUrl GetURLBase() const;
    // "http://..." as is; "/..." replaces path, query and fragment of the URL base; any other
    // text is appended to the base path.
    virtual KL_HttpUrl NormalizeURL(const char* url) const;
    // Appends this device's "device" element to the parent.
    virtual KL_Result GetDescription(KL_XmlElementNode* parent, KL_XmlElementNode** device = nullptr) const;
    // The absolute URL of the best icon within the limits (0 or null: no limit), or "".
    virtual KL_String GetIconUrl(const char* mime_type = nullptr, int32_t max_size = 0,
                                 int32_t max_depth = 0) const;
    virtual ~UP_DeviceData();
    // Deletes every service, releases every embedded device, drops every icon.
    virtual void ClearChildren();
    // Called while the "device" element is written; adds nothing here.
    virtual KL_Result AddCustomElements(KL_XmlElementNode* device) const;

    // A new random UUID: 32 lower-case hexadecimal digits in the 8-4-4-4-12 form, from the
    // kernel's random source.
    static KL_Result GenerateUUID(KL_String& uuid);

    // Leases below 10 s become the framework default; last_update 0 means now.
    void SetLeaseTime(const KL_TimeStamp& lease, const KL_TimeStamp& last_update = KL_TimeStamp());
    const KL_TimeStamp& GetLeaseTime() const { return m_LeaseTime; }
    const KL_TimeStamp& GetLeaseTimeLastUpdate() const { return m_LeaseTimeLastUpdate; }
    // Scheme, port (when not 0), host (when not empty) and the folder of the URL's path; -1 for
    // a path without "/".
    KL_Result SetURLBase(const KL_HttpUrl& url);
    KL_Result SetDescriptionUrl(const KL_HttpUrl& url);

    void SetBootIdValue(uint32_t id) { m_BootId = id; }
    void SetNextBootIdValue(uint32_t id) { m_NextBootId = id; }
    void SetConfigIdValue(uint32_t id) { m_ConfigId = id; }
    uint32_t GetBootId() const { return m_BootId; }
    uint32_t GetNextBootId() const { return m_NextBootId; }
    uint32_t GetConfigId() const { return m_ConfigId; }
    // Now in whole seconds since 1970; one more when that equals the boot id.
    uint32_t MakeNextBootId() const;
    // A new random 24-bit id that differs from the current one; returns it.
    uint32_t UpdateConfigId();
    // The low 24 bits of the random value; when that equals current, one less (1 instead of 0).
    static uint32_t ChooseConfigId(uint32_t random, uint32_t current);

    // -20000 for a service without type, id or any of its three URLs.
    KL_Result AddService(UP_Service* service);
    KL_Result RemoveService(UP_Service* service);
    KL_Result AddEmbeddedDevice(const KL_Reference<UP_DeviceData>& device);
    KL_Result RemoveEmbeddedDevice(UP_DeviceData* device);
    KL_Result AddIcon(const UP_DeviceIcon& icon) { return m_Icons.Add(icon); }

    KL_Result FindEmbeddedDevice(const char* uuid, KL_Reference<UP_DeviceData>& device) const;
    KL_Result FindEmbeddedDeviceByType(const char* type, KL_Reference<UP_DeviceData>& device) const;
    KL_Result FindServiceById(const char* id, UP_Service*& service) const;
    KL_Result FindServiceByType(const char* type, UP_Service*& service) const;
    KL_Result FindServiceByName(const char* name, UP_Service*& service) const;
    KL_Result FindServiceBySCPDURL(const char* url, UP_Service*& service, bool recursive = false) const;
    KL_Result FindServiceByControlURL(const char* url, UP_Service*& service, bool recursive = false) const;
    KL_Result FindServiceByEventSubURL(const char* url, UP_Service*& service, bool recursive = false) const;

    const KL_String& GetSummaryText();

    // The reader: builds (or fills, when the reference holds one) device data from a description.
    static KL_Result SetDescription(KL_Reference<UP_DeviceData>& device, const KL_TimeStamp& lease_time,
                                    const char* description_url, const char* text,
                                    const KL_HttpRequestContext* context);
    static KL_Result SetDescriptionDevice(UP_DeviceData& device, const KL_XmlElementNode* element,
                                          const KL_HttpRequestContext* context);

    // Texts of the description.
    const KL_String& GetUUID() const { return m_UUID; }
    const KL_String& GetParentUUID() const { return m_ParentUUID; }
    const KL_String& GetDeviceType() const { return m_DeviceType; }
    void SetDeviceType(const char* type) { m_DeviceType = type; }
    const KL_String& GetFriendlyName() const { return m_FriendlyName; }
    void SetFriendlyName(const char* name) { m_FriendlyName = name; }
    const KL_IpAddress& GetLocalIfaceIp() const { return m_LocalIfaceIp; }
    const KL_Array<UP_Service*>& GetServices() const { return m_Services; }
    const KL_Array<KL_Reference<UP_DeviceData>>& GetEmbeddedDevices() const { return m_EmbeddedDevices; }
    const KL_Array<UP_DeviceIcon>& GetIcons() const { return m_Icons; }

    KL_String m_Manufacturer;
    KL_String m_ManufacturerURL;
    KL_String m_ModelDescription;
    KL_String m_ModelName;
    KL_String m_ModelNumber;
    KL_String m_ModelURL;
    KL_String m_SerialNumber;
    KL_String m_PresentationURL;
    KL_String m_DlnaDoc;          // X_DLNADOC, e.g. "DMS-1.50"
    KL_String m_DlnaCap;          // X_DLNACAP
    KL_String m_AggregationFlags; // av:aggregationFlags

protected:
    KL_Result WriteTexts(KL_XmlElementNode* device) const;
    KL_Result WriteLists(KL_XmlElementNode* device) const;
    static KL_Result ReadLists(UP_DeviceData& device, const KL_XmlElementNode* element,
                               const KL_HttpRequestContext* context);

    KL_String m_ParentUUID;
    KL_String m_UUID;
    KL_HttpUrl m_DescriptionURL;
    KL_HttpUrl m_URLBase;
    KL_String m_DeviceType;
    KL_String m_FriendlyName;
    KL_TimeStamp m_LeaseTime;
    KL_TimeStamp m_LeaseTimeLastUpdate;
    KL_Array<UP_Service*> m_Services;
    KL_Array<KL_Reference<UP_DeviceData>> m_EmbeddedDevices;
    KL_Array<UP_DeviceIcon> m_Icons;
    KL_IpAddress m_LocalIfaceIp;
    KL_String m_Summary;
    uint32_t m_BootId = 0;
    uint32_t m_NextBootId = 0;
    uint32_t m_ConfigId = 0;
};
