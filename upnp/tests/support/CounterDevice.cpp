#include "CounterDevice.h"

#include "KL_Utils.h"

namespace {

std::string Argument(const char* name, const char* direction, const char* variable) {
    return std::string("<argument><name>") + name + "</name><direction>" + direction +
           "</direction><relatedStateVariable>" + variable + "</relatedStateVariable></argument>";
}

} // namespace

std::string CounterDevice::DefaultScpd(const std::string& extra_variables) {
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

CounterDevice::CounterDevice(const char* friendly_name, uint16_t port, std::string scpd,
                             const char* last_change_namespace)
    : UP_DeviceHost("/DeviceDescription.xml", nullptr, kDeviceType, friendly_name, false, port, true),
      m_Scpd(std::move(scpd)), m_LastChangeNamespace(last_change_namespace ? last_change_namespace : "") {
    m_Manufacturer = "Lanyard";
    m_ManufacturerURL = "";
    m_ModelURL = "";
}

CounterDevice::~CounterDevice() {
    if (IsStarted()) {
        (void)Stop();
    }
}

KL_Result CounterDevice::SetupServices() {
    auto* service = new UP_Service(this, kServiceType, kServiceId, "Counter", m_LastChangeNamespace.c_str());
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

KL_Result CounterDevice::OnAction(UP_ActionCall& call, const KL_HttpRequestContext& context) {
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

UP_Service* CounterDevice::GetCounterService() const {
    return GetServices().GetItemCount() > 0 ? GetServices()[0] : nullptr;
}
