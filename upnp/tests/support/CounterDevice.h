// CounterDevice: the root device that upnpdevice hosts and the framework's host and eventing tests
// drive: one Counter service whose Apply action adds to or sets an evented Value and echoes a
// note. Tests may hand in a service description of their own (with more variables) as long as
// it keeps Apply and Value. Library upnp_test_support.
#pragma once

#include "UP_ActionCall.h"
#include "UP_DeviceHost.h"
#include "UP_Service.h"

#include <cstdint>
#include <string>

class CounterDevice : public UP_DeviceHost {
public:
    static constexpr const char* kDeviceType = "urn:schemas-lanyard-org:device:TestDevice:1";
    static constexpr const char* kServiceType = "urn:schemas-lanyard-org:service:Counter:1";
    static constexpr const char* kServiceId = "urn:lanyard-org:serviceId:Counter";

    // The Counter service's SCPD, with extra state variables appended to its table.
    static std::string DefaultScpd(const std::string& extra_variables = "");

    explicit CounterDevice(const char* friendly_name = "Lanyard Test Device", uint16_t port = 0,
                           std::string scpd = DefaultScpd(), const char* last_change_namespace = nullptr);
    ~CounterDevice() override;

    KL_Result SetupServices() override;
    KL_Result OnAction(UP_ActionCall& call, const KL_HttpRequestContext& context) override;

    UP_Service* GetCounterService() const;

private:
    std::string m_Scpd;
    std::string m_LastChangeNamespace;
};
