// CounterDevice: the root device that upnpdevice hosts and the framework's host and eventing tests
// drive: one Counter service whose Apply action adds to or sets an evented Value and echoes a
// note. Tests may hand in a service description of their own (with more variables) as long as
// it keeps Apply and Value.
#pragma once

#include "KL_Utils.h"
#include "UP_ActionCall.h"
#include "UP_DeviceHost.h"
#include "UP_Service.h"

#include <string>

class CounterDevice : public UP_DeviceHost {
public:
    static constexpr const char* kDeviceType = "urn:schemas-lanyard-org:device:TestDevice:1";
    static constexpr const char* kServiceType = "urn:schemas-lanyard-org:service:Counter:1";
    static constexpr const char* kServiceId = "urn:lanyard-org:serviceId:Counter";

    static std::string DefaultScpd(const std::string& extra_variables = "") {
        return "<?xml version=\"1.0\"?>"
               "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
               "<specVersion><major>1</major><minor>0</minor></specVersion>"
               "<actionList><action><name>Apply</name><argumentList>" +
               Argument("Operation", "in", "A_ARG_TYPE_Operation") +
               Argument("Amount", "in", "A_ARG_TYPE_Amount") + Argument("Note", "in", "A_ARG_TYPE_Note") +
               Argument("NewValue", "out", "Value") + Argument("Echo", "out", "A_ARG_TYPE_Note") +
               "</argumentList></action></actionList><serviceStateTable>"
               "<stateVariable sendEvents=\"yes\"><name>Value</name><dataType>ui4</dataType>"
               "<defaultValue>0</defaultValue></stateVariable>"
               "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_Operation</name><dataType>string</dataType>"
               "<allowedValueList><allowedValue>Add</allowedValue><allowedValue>Set</allowedValue>"
               "</allowedValueList></stateVariable>"
               "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_Amount</name><dataType>ui4</dataType>"
               "</stateVariable>"
               "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_Note</name><dataType>string</dataType>"
               "</stateVariable>" +
               extra_variables + "</serviceStateTable></scpd>";
    }

    explicit CounterDevice(const char* friendly_name = "Lanyard Test Device", uint16_t port = 0,
                           std::string scpd = DefaultScpd(), const char* last_change_namespace = nullptr)
        : UP_DeviceHost("/DeviceDescription.xml", nullptr, kDeviceType, friendly_name, false, port, true),
          m_Scpd(std::move(scpd)), m_LastChangeNamespace(last_change_namespace ? last_change_namespace : "") {
        m_Manufacturer = "Lanyard";
        m_ManufacturerURL = "";
        m_ModelURL = "";
    }
    ~CounterDevice() override {
        if (IsStarted()) {
            (void)Stop();
        }
    }

    KL_Result SetupServices() override {
        auto* service =
            new UP_Service(this, kServiceType, kServiceId, "Counter", m_LastChangeNamespace.c_str());
        KL_Result res = service->SetSCPDXML(m_Scpd.c_str());
        if (KL_SUCCEEDED(res)) {
            res = service->SetStateVariable("Value", "0");
        }
        if (KL_FAILED(res)) {
            delete service;
            return res;
        }
        return AddService(service);
    }

    KL_Result OnAction(UP_ActionCall& call, const KL_HttpRequestContext& context) override {
        if (call.GetActionDesc().GetName() != "Apply") {
            return UP_DeviceHost::OnAction(call, context);
        }
        UP_Service* service = call.GetActionDesc().GetService();
        KL_String operation, amount_text, note;
        uint32_t amount = 0;
        if (service == nullptr || KL_FAILED(call.GetArgumentValue("Operation", operation)) ||
            KL_FAILED(call.GetArgumentValue("Amount", amount_text)) ||
            KL_FAILED(call.GetArgumentValue("Note", note)) ||
            KL_FAILED(KL_ParseInteger32U(amount_text.GetChars(), amount, false))) {
            return KL_FAILURE; // no error set: the host answers 501
        }
        KL_AutoLock lock(service->GetLock());
        KL_String current;
        uint32_t value = 0;
        if (KL_FAILED(service->GetStateVariableValue("Value", current)) ||
            KL_FAILED(KL_ParseInteger32U(current.GetChars(), value, false))) {
            return KL_FAILURE;
        }
        value = operation.Compare("Add", true) == 0 ? value + amount : amount;
        KL_String text = KL_String::FromIntegerU(value);
        if (KL_FAILED(service->SetStateVariable("Value", text.GetChars())) ||
            KL_FAILED(call.SetArgumentValue("NewValue", text.GetChars())) ||
            KL_FAILED(call.SetArgumentValue("Echo", note.GetChars()))) {
            return KL_FAILURE;
        }
        return KL_SUCCESS;
    }

    UP_Service* GetCounterService() const {
        return GetServices().GetItemCount() > 0 ? GetServices()[0] : nullptr;
    }

private:
    static std::string Argument(const char* name, const char* direction, const char* variable) {
        return std::string("<argument><name>") + name + "</name><direction>" + direction +
               "</direction><relatedStateVariable>" + variable + "</relatedStateVariable></argument>";
    }

    std::string m_Scpd;
    std::string m_LastChangeNamespace;
};
