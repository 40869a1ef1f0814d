#include "ModelTestSupport.h"
#include "UP_DeviceData.h"

#include <gtest/gtest.h>

#include <regex>

using namespace model_test;

namespace {

const char* const kDeviceType = "urn:schemas-lanyard-org:device:TestDevice:1";
const char* const kUuid = "4d696e69-444c-164e-9d41-b827eb0f1c2a";

std::unique_ptr<UP_DeviceData> MakeDevice(const char* url = "http://127.0.0.1/DeviceDescription.xml",
                                          const char* uuid = kUuid) {
    return std::make_unique<UP_DeviceData>(url, uuid, KL_TimeStamp::FromSeconds(1800), kDeviceType,
                                           "Lanyard Test Device");
}

UP_Service* AddTestService(UP_DeviceData& device, const char* name = "Test",
                           const char* type = "urn:schemas-lanyard-org:service:Test:1") {
    auto* service =
        new UP_Service(&device, type, (std::string("urn:lanyard-org:serviceId:") + name).c_str(), name);
    if (KL_FAILED(service->SetSCPDXML(ReadDataFile("ContentDirectory.xml").c_str())) ||
        KL_FAILED(device.AddService(service))) {
        delete service;
        return nullptr;
    }
    return service;
}

std::string Description(const UP_DeviceData& device) {
    KL_String text;
    return KL_SUCCEEDED(device.GetDescription(text)) ? text.GetChars() : "<failed>";
}

} // namespace

TEST(DeviceDataTest, BareDeviceWritesTheFixedElementsInOrder) {
    auto device = MakeDevice();
    device->SetConfigIdValue(3);
    EXPECT_EQ(Description(*device),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "<root configId=\"3\" xmlns=\"urn:schemas-upnp-org:device-1-0\" "
              "xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">\r\n"
              "  <specVersion>\r\n    <major>1</major>\r\n    <minor>1</minor>\r\n  </specVersion>\r\n"
              "  <device>\r\n"
              "    <deviceType>urn:schemas-lanyard-org:device:TestDevice:1</deviceType>\r\n"
              "    <friendlyName>Lanyard Test Device</friendlyName>\r\n"
              "    <manufacturer>Quenmark LLC</manufacturer>\r\n"
              "    <manufacturerURL></manufacturerURL>\r\n"
              "    <modelDescription></modelDescription>\r\n"
              "    <modelName></modelName>\r\n"
              "    <modelURL></modelURL>\r\n"
              "    <UDN>uuid:4d696e69-444c-164e-9d41-b827eb0f1c2a</UDN>\r\n"
              "    <serviceList/>\r\n"
              "  </device>\r\n"
              "</root>");
}

TEST(DeviceDataTest, DescriptionWithOneServiceMatchesTheGoldenText) {
    auto device = MakeDevice();
    device->m_Manufacturer = "Lanyard";
    ASSERT_NE(AddTestService(*device), nullptr);
    device->SetConfigIdValue(7);
    EXPECT_EQ(Description(*device), ReadDataFile("description.golden"));
}

TEST(DeviceDataTest, LeaseBelowTenSecondsTakesTheDefault) {
    struct Case {
        int64_t millis;
        int64_t seconds;
    };
    for (const Case& c : {Case{5000, 1800}, Case{9999, 1800}, Case{10000, 10}, Case{60000, 60}}) {
        UP_DeviceData device("http://127.0.0.1/d.xml", kUuid, KL_TimeStamp::FromMillis(c.millis), kDeviceType,
                             "");
        EXPECT_EQ(device.GetLeaseTime().ToSeconds(), c.seconds) << c.millis;
        EXPECT_NE(device.GetLeaseTimeLastUpdate(), KL_TimeStamp());
    }
}

TEST(DeviceDataTest, ConfigIdsNeverRepeatAndStayIn24Bits) {
    auto device = MakeDevice();
    for (int i = 0; i < 1000; ++i) {
        uint32_t before = device->GetConfigId();
        uint32_t after = device->UpdateConfigId();
        EXPECT_NE(after, before);
        EXPECT_LE(after, 0xFFFFFFu);
    }
    EXPECT_EQ(UP_DeviceData::ChooseConfigId(0, 0), 1u);
    EXPECT_EQ(UP_DeviceData::ChooseConfigId(0x1000005, 5), 4u);
    EXPECT_EQ(UP_DeviceData::ChooseConfigId(0xFF000009, 5), 9u);
    uint32_t id = device->GetConfigId();
    ASSERT_NE(AddTestService(*device), nullptr);
    EXPECT_NE(device->GetConfigId(), id);
}

TEST(DeviceDataTest, NormalizeUrl) {
    auto device = MakeDevice("http://10.0.0.2:49152/dev/desc.xml?x=1");
    struct Case {
        const char* url;
        const char* expected;
    };
    const Case cases[] = {
        {"/a/b.xml?q=2#f", "http://10.0.0.2:49152/a/b.xml?q=2"},
        {"desc.xml", "http://10.0.0.2:49152/dev/desc.xml"},
        {"icons/i.png", "http://10.0.0.2:49152/dev/icons/i.png"},
        {"http://example.org:8080/x", "http://example.org:8080/x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(device->NormalizeURL(c.url).ToString(), c.expected) << c.url;
    }
    EXPECT_EQ(device->GetURLBase().ToString(), "http://10.0.0.2:49152/dev/");
    EXPECT_EQ(device->GetDescriptionUrl(), "http://10.0.0.2:49152/dev/desc.xml?x=1");
    EXPECT_EQ(device->GetDescriptionUrl("192.168.1.9"), "http://192.168.1.9:49152/dev/desc.xml?x=1");
    KL_HttpUrl no_folder("http://h/");
    ASSERT_EQ(no_folder.SetPath("name", true), KL_SUCCESS);
    EXPECT_EQ(device->SetURLBase(no_folder), KL_FAILURE);
    EXPECT_EQ(device->GetURLBase().ToString(), "http://10.0.0.2:49152/dev/");
}

TEST(DeviceDataTest, ServicesAndTheirFinders) {
    auto device = MakeDevice();
    UP_Service* test = AddTestService(*device);
    UP_Service* cds =
        AddTestService(*device, "ContentDirectory", "urn:schemas-upnp-org:service:ContentDirectory:2");
    ASSERT_NE(test, nullptr);
    ASSERT_NE(cds, nullptr);
    UP_Service* found = nullptr;
    EXPECT_EQ(device->FindServiceByType("urn:schemas-upnp-org:service:ContentDirectory:*", found),
              KL_SUCCESS);
    EXPECT_EQ(found, cds);
    EXPECT_EQ(device->FindServiceByType("urn:schemas-upnp-org:service:ContentDirectory:1", found),
              KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(device->FindServiceById("URN:lanyard-org:serviceId:test", found), KL_SUCCESS);
    EXPECT_EQ(found, test);
    EXPECT_EQ(device->FindServiceByName("contentdirectory", found), KL_SUCCESS);
    EXPECT_EQ(found, cds);
    std::string relative = std::string("/ContentDirectory/") + kUuid + "/control.xml";
    EXPECT_EQ(cds->GetControlURL(), relative.c_str());
    EXPECT_EQ(device->FindServiceByControlURL(relative.c_str(), found), KL_SUCCESS);
    EXPECT_EQ(found, cds);
    EXPECT_EQ(device->FindServiceBySCPDURL(
                  ("http://127.0.0.1/Test/" + std::string(kUuid) + "/scpd.xml").c_str(), found),
              KL_SUCCESS);
    EXPECT_EQ(found, test);
    EXPECT_EQ(device->FindServiceByEventSubURL("/nope", found), KL_FAILURE);

    UP_Service stray(device.get(), "urn:x:service:X:1", "urn:x:serviceId:X");
    EXPECT_EQ(device->AddService(&stray), KL_ERROR_INVALID_PARAMETERS); // no URLs
    UP_Service untyped(device.get(), "", "urn:x:serviceId:X", "X");
    EXPECT_EQ(device->AddService(&untyped), KL_ERROR_INVALID_PARAMETERS);
    UP_Service unnamed(device.get(), "urn:x:service:X:1", "", "X");
    EXPECT_EQ(device->AddService(&unnamed), KL_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(device->RemoveService(&stray), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(device->RemoveService(test), KL_SUCCESS);
    delete test;
    EXPECT_EQ(device->GetServices().GetItemCount(), 1u);
}

TEST(DeviceDataTest, EmbeddedDevicesAreSearchedDepthFirst) {
    auto root = MakeDevice();
    KL_Reference<UP_DeviceData> child(new UP_DeviceData("http://127.0.0.1/d.xml", "child", KL_TimeStamp(),
                                                        "urn:x:device:Child:1", "child"));
    KL_Reference<UP_DeviceData> grandchild(new UP_DeviceData("http://127.0.0.1/d.xml", "grandchild",
                                                             KL_TimeStamp(), "urn:x:device:Grand:1", "g"));
    UP_Service* service = AddTestService(*grandchild, "Deep");
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(child->AddEmbeddedDevice(grandchild), KL_SUCCESS);
    ASSERT_EQ(root->AddEmbeddedDevice(child), KL_SUCCESS);
    EXPECT_EQ(child->GetParentUUID(), kUuid);
    KL_Reference<UP_DeviceData> found;
    EXPECT_EQ(root->FindEmbeddedDevice("GRANDCHILD", found), KL_SUCCESS);
    EXPECT_EQ(found.AsPointer(), grandchild.AsPointer());
    EXPECT_EQ(root->FindEmbeddedDeviceByType("urn:x:device:Child:1", found), KL_SUCCESS);
    EXPECT_EQ(found.AsPointer(), child.AsPointer());
    EXPECT_EQ(root->FindEmbeddedDevice("nobody", found), KL_FAILURE);
    UP_Service* deep = nullptr;
    std::string url = "/Deep/grandchild/event.xml";
    EXPECT_EQ(root->FindServiceByEventSubURL(url.c_str(), deep), KL_FAILURE);
    EXPECT_EQ(root->FindServiceByEventSubURL(url.c_str(), deep, true), KL_SUCCESS);
    EXPECT_EQ(deep, service);
    EXPECT_EQ(root->RemoveEmbeddedDevice(grandchild.AsPointer()), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(root->RemoveEmbeddedDevice(child.AsPointer()), KL_SUCCESS);
}

TEST(DeviceDataTest, BootIdsUuidsIconsAndSummary) {
    auto device = MakeDevice();
    uint32_t first = device->MakeNextBootId();
    device->SetBootIdValue(first);
    EXPECT_GE(device->MakeNextBootId(), first + 1);

    const std::regex uuid("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$");
    UP_DeviceData a("http://127.0.0.1/d.xml", nullptr, KL_TimeStamp(), kDeviceType, "");
    UP_DeviceData b("http://127.0.0.1/d.xml", "", KL_TimeStamp(), kDeviceType, "");
    EXPECT_TRUE(std::regex_match(a.GetUUID().GetChars(), uuid)) << a.GetUUID().GetChars();
    EXPECT_TRUE(std::regex_match(b.GetUUID().GetChars(), uuid)) << b.GetUUID().GetChars();
    EXPECT_NE(a.GetUUID(), b.GetUUID());

    EXPECT_EQ(device->GetIconUrl(), "");
    // An icon replaces the kept one only when it is larger in width, height and depth alike.
    device->AddIcon(UP_DeviceIcon("image/png", 48, 48, 8, "icons/48.png"));
    device->AddIcon(UP_DeviceIcon("image/png", 120, 120, 24, "/icons/120.png"));
    device->AddIcon(UP_DeviceIcon("image/jpeg", 240, 240, 32, "icons/240.jpg"));
    device->AddIcon(UP_DeviceIcon("image/png", 480, 480, 24, "icons/480.png"));
    device->AddIcon(UP_DeviceIcon("image/png", 500, 500, 32, ""));
    EXPECT_EQ(device->GetIconUrl(), "http://127.0.0.1/icons/240.jpg");
    EXPECT_EQ(device->GetIconUrl("image/png"), "http://127.0.0.1/icons/120.png");
    EXPECT_EQ(device->GetIconUrl(nullptr, 100), "http://127.0.0.1/icons/48.png");
    EXPECT_EQ(device->GetIconUrl(nullptr, 0, 4), "");

    EXPECT_EQ(
        device->GetSummaryText(),
        "Device GUID: 4d696e69-444c-164e-9d41-b827eb0f1c2aDevice Type: "
        "urn:schemas-lanyard-org:device:TestDevice:1Device Base Url: http://127.0.0.1/Device Friendly Name: "
        "Lanyard Test Device");
}

TEST(DeviceDataTest, DescriptionReadBackWritesTheSameText) {
    auto device = MakeDevice("http://10.0.0.2:49152/DeviceDescription.xml");
    device->m_ModelNumber = "1.0";
    device->m_SerialNumber = "42";
    device->m_PresentationURL = "/index.html";
    device->m_DlnaDoc = "DMS-1.50";
    device->m_DlnaCap = "av-upload";
    device->m_AggregationFlags = "10";
    device->m_ModelDescription = "A & B <test>";
    device->AddIcon(UP_DeviceIcon("image/png", 48, 48, 24, "/icon.png"));
    ASSERT_NE(AddTestService(*device), nullptr);
    KL_Reference<UP_DeviceData> child(new UP_DeviceData("http://10.0.0.2:49152/DeviceDescription.xml",
                                                        "child", KL_TimeStamp(), "urn:x:device:Child:1",
                                                        "child"));
    ASSERT_NE(AddTestService(*child, "Inner"), nullptr);
    ASSERT_EQ(device->AddEmbeddedDevice(child), KL_SUCCESS);
    const std::string written = Description(*device);

    KL_Reference<UP_DeviceData> read;
    ASSERT_EQ(UP_DeviceData::SetDescription(read, KL_TimeStamp::FromSeconds(1800),
                                            "http://10.0.0.2:49152/DeviceDescription.xml", written.c_str(),
                                            nullptr),
              KL_SUCCESS);
    EXPECT_EQ(Description(*read), written);
    EXPECT_EQ(read->GetConfigId(), device->GetConfigId());

    KL_Reference<UP_DeviceData> refused;
    const char* wrong = "<root xmlns=\"urn:other\"><device/></root>";
    EXPECT_EQ(UP_DeviceData::SetDescription(refused, KL_TimeStamp(), "http://h/d.xml", wrong, nullptr),
              KL_FAILURE);
    const char* no_device = "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"/>";
    EXPECT_EQ(UP_DeviceData::SetDescription(refused, KL_TimeStamp(), "http://h/d.xml", no_device, nullptr),
              KL_FAILURE);
}
