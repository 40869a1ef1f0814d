// The device description: the writer (GetDescription) and the small reader (SetDescription).
#include "KL_Check.h"
#include "KL_HttpRequestContext.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlParser.h"
#include "UP_DeviceData.h"
#include "UP_Service.h"
#include "UP_XmlHelper.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.device");

namespace {

const char* const kDeviceNamespace = "urn:schemas-upnp-org:device-1-0";
const char* const kDlnaNamespace = "urn:schemas-dlna-org:device-1-0";
const char* const kSonyAvNamespace = "urn:schemas-sonycom:av";
constexpr KL_Size kMaxTextSize = 1024;

// A prefixed text element that declares its own prefix, written only when the text is set.
KL_Result AddDeclaredText(KL_XmlElementNode* device, const char* prefix, const char* uri, const char* tag,
                          const KL_String& text) {
    if (text.IsEmpty()) {
        return KL_SUCCESS;
    }
    KL_XmlElementNode* element = UP_XmlHelper::AddChildElement(device, tag, prefix);
    KL_CHECK_POINTER_SEVERE(element);
    KL_CHECK_SEVERE(element->SetNamespaceUri(prefix, uri));
    return element->AddText(text.GetChars());
}

KL_Result AddOptionalText(KL_XmlElementNode* device, const char* tag, const KL_String& text) {
    return text.IsEmpty() ? KL_SUCCESS : UP_XmlHelper::AddChildText(device, tag, text.GetChars());
}

} // namespace

KL_Result UP_DeviceData::GetDescription(KL_String& description) const {
    std::unique_ptr<KL_XmlElementNode> root(new (std::nothrow) KL_XmlElementNode("", "root"));
    KL_CHECK_POINTER_SEVERE(root.get());
    KL_CHECK_SEVERE(root->SetNamespaceUri("", kDeviceNamespace));
    KL_CHECK_SEVERE(root->SetNamespaceUri("dlna", kDlnaNamespace));
    KL_CHECK_SEVERE(root->SetAttribute("configId", KL_String::FromIntegerU(m_ConfigId).GetChars()));
    KL_XmlElementNode* spec_version = UP_XmlHelper::AddChildElement(root.get(), "specVersion");
    KL_CHECK_POINTER_SEVERE(spec_version);
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(spec_version, "major", "1"));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(spec_version, "minor", "1"));
    KL_CHECK_SEVERE(GetDescription(root.get()));
    KL_CHECK_SEVERE(UP_XmlHelper::Serialize(*root, description, true, 2));
    return KL_SUCCESS;
}

KL_Result UP_DeviceData::GetDescription(KL_XmlElementNode* parent, KL_XmlElementNode** device_out) const {
    KL_CHECK_POINTER(parent);
    KL_XmlElementNode* device = UP_XmlHelper::AddChildElement(parent, "device");
    KL_CHECK_POINTER_SEVERE(device);
    if (device_out != nullptr) {
        *device_out = device;
    }
    KL_CHECK_SEVERE(WriteTexts(device));
    KL_CHECK_SEVERE(AddCustomElements(device));
    KL_CHECK_SEVERE(AddDeclaredText(device, "dlna", kDlnaNamespace, "X_DLNADOC", m_DlnaDoc));
    KL_CHECK_SEVERE(AddDeclaredText(device, "dlna", kDlnaNamespace, "X_DLNACAP", m_DlnaCap));
    return WriteLists(device);
}

KL_Result UP_DeviceData::WriteTexts(KL_XmlElementNode* device) const {
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "deviceType", m_DeviceType.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "friendlyName", m_FriendlyName.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "manufacturer", m_Manufacturer.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "manufacturerURL", m_ManufacturerURL.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "modelDescription", m_ModelDescription.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "modelName", m_ModelName.GetChars()));
    KL_CHECK_SEVERE(AddOptionalText(device, "modelNumber", m_ModelNumber));
    KL_CHECK_SEVERE(AddOptionalText(device, "serialNumber", m_SerialNumber));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "modelURL", m_ModelURL.GetChars()));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(device, "UDN", ("uuid:" + m_UUID).GetChars()));
    KL_CHECK_SEVERE(AddOptionalText(device, "presentationURL", m_PresentationURL));
    return KL_SUCCESS;
}

KL_Result UP_DeviceData::WriteLists(KL_XmlElementNode* device) const {
    if (!m_Icons.IsEmpty()) {
        KL_XmlElementNode* icon_list = UP_XmlHelper::AddChildElement(device, "iconList");
        KL_CHECK_POINTER_SEVERE(icon_list);
        for (const UP_DeviceIcon& icon : m_Icons) {
            KL_XmlElementNode* element = UP_XmlHelper::AddChildElement(icon_list, "icon");
            KL_CHECK_POINTER_SEVERE(element);
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(element, "mimetype", icon.m_MimeType.GetChars()));
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(element, "width",
                                                       KL_String::FromInteger(icon.m_Width).GetChars()));
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(element, "height",
                                                       KL_String::FromInteger(icon.m_Height).GetChars()));
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(element, "depth",
                                                       KL_String::FromInteger(icon.m_Depth).GetChars()));
            KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(element, "url", icon.m_UrlPath.GetChars()));
        }
    }
    KL_XmlElementNode* service_list = UP_XmlHelper::AddChildElement(device, "serviceList");
    KL_CHECK_POINTER_SEVERE(service_list);
    for (const UP_Service* service : m_Services) {
        KL_CHECK_SEVERE(service->GetDescription(service_list));
    }
    KL_CHECK_SEVERE(AddDeclaredText(device, "av", kSonyAvNamespace, "aggregationFlags", m_AggregationFlags));
    if (!m_EmbeddedDevices.IsEmpty()) {
        KL_XmlElementNode* device_list = UP_XmlHelper::AddChildElement(device, "deviceList");
        KL_CHECK_POINTER_SEVERE(device_list);
        for (const KL_Reference<UP_DeviceData>& embedded : m_EmbeddedDevices) {
            KL_CHECK_SEVERE(embedded->GetDescription(device_list));
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_DeviceData::SetDescription(KL_Reference<UP_DeviceData>& device, const KL_TimeStamp& lease_time,
                                        const char* description_url, const char* text,
                                        const KL_HttpRequestContext* context) {
    KL_CHECK_POINTER(text);
    KL_XmlParser parser;
    KL_XmlNode* tree = nullptr;
    KL_CHECK_SEVERE(parser.Parse(text, tree));
    std::unique_ptr<KL_XmlNode> owner(tree);
    const KL_XmlElementNode* root = tree != nullptr ? tree->AsElementNode() : nullptr;
    const KL_String* namespc = root ? root->GetNamespace() : nullptr;
    if (root == nullptr || root->GetTag() != "root" || namespc == nullptr || *namespc != kDeviceNamespace) {
        KL_LOG_INFO("root namespace is invalid: %s", namespc ? namespc->GetChars() : "null");
        return KL_FAILURE;
    }
    if (device.IsNull()) {
        device = KL_Reference<UP_DeviceData>(new (std::nothrow)
                                                 UP_DeviceData(description_url, nullptr, lease_time, "", ""));
        KL_CHECK_POINTER(device.AsPointer());
    }
    KL_String base;
    if (KL_SUCCEEDED(UP_XmlHelper::GetChildText(root, "URLBase", base, "*", kMaxTextSize))) {
        KL_HttpUrl url(base.GetChars());
        KL_String host = url.GetHost().ToLowercase();
        if (context != nullptr && (host == "localhost" || host == "127.0.0.1")) {
            url.SetHost(context->GetLocalAddress().m_IpAddress.ToString().GetChars());
        }
        KL_CHECK_SEVERE(device->SetURLBase(url));
    }
    const KL_XmlElementNode* element = UP_XmlHelper::GetChildElement(root, "device", "*");
    if (element == nullptr) {
        return KL_FAILURE;
    }
    KL_CHECK_SEVERE(SetDescriptionDevice(*device, element, context));
    KL_String config_id;
    if (KL_SUCCEEDED(UP_XmlHelper::GetAttribute(root, "configId", config_id))) {
        config_id.ToInteger(device->m_ConfigId, true);
    }
    return KL_SUCCESS;
}

KL_Result UP_DeviceData::SetDescriptionDevice(UP_DeviceData& device, const KL_XmlElementNode* element,
                                              const KL_HttpRequestContext* context) {
    KL_CHECK_POINTER(element);
    if (context != nullptr) {
        device.m_LocalIfaceIp = context->GetLocalAddress().m_IpAddress;
    }
    KL_CHECK(UP_XmlHelper::GetChildText(element, "deviceType", device.m_DeviceType, "*", kMaxTextSize));
    KL_String udn;
    KL_CHECK(UP_XmlHelper::GetChildText(element, "UDN", udn, "*", kMaxTextSize));
    device.m_UUID = udn.StartsWith("uuid:") ? udn.SubString(5) : udn;
    struct {
        const char* tag;
        KL_String* field;
    } const texts[] = {
        {"friendlyName", &device.m_FriendlyName},
        {"manufacturer", &device.m_Manufacturer},
        {"manufacturerURL", &device.m_ManufacturerURL},
        {"modelDescription", &device.m_ModelDescription},
        {"modelName", &device.m_ModelName},
        {"modelURL", &device.m_ModelURL},
        {"modelNumber", &device.m_ModelNumber},
        {"serialNumber", &device.m_SerialNumber},
        {"presentationURL", &device.m_PresentationURL},
        {"X_DLNADOC", &device.m_DlnaDoc},
        {"X_DLNACAP", &device.m_DlnaCap},
        {"aggregationFlags", &device.m_AggregationFlags},
    };
    for (const auto& text : texts) {
        KL_String value;
        if (KL_SUCCEEDED(UP_XmlHelper::GetChildText(element, text.tag, value, "*", kMaxTextSize))) {
            *text.field = value;
        }
    }
    return ReadLists(device, element, context);
}

KL_Result UP_DeviceData::ReadLists(UP_DeviceData& device, const KL_XmlElementNode* element,
                                   const KL_HttpRequestContext* context) {
    KL_Array<KL_XmlElementNode*> icons;
    UP_XmlHelper::GetChildren(UP_XmlHelper::GetChildElement(element, "iconList", "*"), icons, "icon");
    for (const KL_XmlElementNode* node : icons) {
        UP_DeviceIcon icon;
        KL_String number;
        UP_XmlHelper::GetChildText(node, "mimetype", icon.m_MimeType, "*", kMaxTextSize);
        UP_XmlHelper::GetChildText(node, "url", icon.m_UrlPath, "*", kMaxTextSize);
        UP_XmlHelper::GetChildText(node, "width", number, "*", kMaxTextSize);
        number.ToInteger(icon.m_Width, true);
        UP_XmlHelper::GetChildText(node, "height", number, "*", kMaxTextSize);
        number.ToInteger(icon.m_Height, true);
        UP_XmlHelper::GetChildText(node, "depth", number, "*", kMaxTextSize);
        number.ToInteger(icon.m_Depth, true);
        KL_CHECK_SEVERE(device.AddIcon(icon));
    }
    KL_Array<KL_XmlElementNode*> services;
    UP_XmlHelper::GetChildren(UP_XmlHelper::GetChildElement(element, "serviceList", "*"), services,
                              "service");
    for (const KL_XmlElementNode* node : services) {
        KL_String texts[5];
        const char* const tags[5] = {"serviceType", "serviceId", "SCPDURL", "controlURL", "eventSubURL"};
        for (int i = 0; i < 5; ++i) {
            UP_XmlHelper::GetChildText(node, tags[i], texts[i], "*", kMaxTextSize);
        }
        auto* service = new (std::nothrow) UP_Service(&device, texts[0].GetChars(), texts[1].GetChars());
        KL_CHECK_POINTER(service);
        service->SetURLs(texts[2].GetChars(), texts[3].GetChars(), texts[4].GetChars());
        KL_Result res = device.AddService(service);
        if (KL_FAILED(res)) {
            delete service;
            KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_SEVERE, res, "(device.AddService(service))");
            return res;
        }
    }
    KL_Array<KL_XmlElementNode*> devices;
    UP_XmlHelper::GetChildren(UP_XmlHelper::GetChildElement(element, "deviceList", "*"), devices, "device");
    for (KL_Index k = 0; k < devices.GetItemCount(); ++k) {
        KL_Reference<UP_DeviceData> embedded_device(new (std::nothrow) UP_DeviceData(
            device.m_DescriptionURL.ToString().GetChars(), nullptr, device.m_LeaseTime, "", ""));
        KL_CHECK_POINTER(embedded_device.AsPointer());
        KL_CHECK_SEVERE(UP_DeviceData::SetDescriptionDevice(*embedded_device, devices[k], context));
        KL_CHECK_SEVERE(device.AddEmbeddedDevice(embedded_device));
    }
    return KL_SUCCESS;
}
