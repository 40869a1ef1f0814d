// SOAP control of UP_DeviceHost: the POST to a service's control URL.
#include "KL_Check.h"
#include "KL_HttpEntity.h"
#include "KL_HttpRequest.h"
#include "KL_HttpRequestContext.h"
#include "KL_HttpResponse.h"
#include "KL_MemoryStream.h"
#include "KL_XmlElementNode.h"
#include "UP_ActionCall.h"
#include "UP_ConnectionBuffers.h"
#include "UP_DeviceHost.h"
#include "UP_HttpMessageHelper.h"
#include "UP_Service.h"
#include "UP_XmlHelper.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.devicehost");

namespace {

constexpr const char* kSoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kSoapEncodingNamespace = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr const char* kXmlContentType = "text/xml; charset=\"utf-8\"";

// The request cannot be read as a call of this service: 500 "Bad Request" without a body.
KL_Result RefuseRequest(KL_HttpResponse& response) {
    response.SetStatus(500, "Bad Request");
    return KL_SUCCESS;
}

// The action name of a SOAPAction value: quotes stripped at both ends, then exactly
// "service type#action".
bool ParseSoapAction(const char* header, KL_String& action_name) {
    if (header == nullptr) {
        return false;
    }
    KL_String value(header);
    KL_Size first = 0;
    KL_Size end = value.GetLength();
    while (first < end && value.GetChars()[first] == '"') {
        ++first;
    }
    while (end > first && value.GetChars()[end - 1] == '"') {
        --end;
    }
    KL_List<KL_String> parts = value.SubString(first, end - first).Split("#");
    if (parts.GetItemCount() != 2) {
        return false;
    }
    action_name = *parts.GetItem(1);
    return true;
}

bool NamespaceIs(const KL_XmlElementNode* element, const char* uri) {
    const KL_String* ns = element->GetNamespace();
    return ns != nullptr && *ns == uri;
}

KL_XmlElementNode* FirstChildElement(const KL_XmlElementNode* element) {
    for (KL_XmlNode* child : element->GetChildren()) {
        if (child->AsElementNode() != nullptr) {
            return child->AsElementNode();
        }
    }
    return nullptr;
}

// The action element inside a well-formed SOAP 1.1 envelope, or null.
const KL_XmlElementNode* FindActionElement(const KL_XmlElementNode* root, const KL_String& action_name,
                                           const KL_String& service_type) {
    if (root->GetTag().Compare("Envelope", true) != 0 || !NamespaceIs(root, kSoapEnvelopeNamespace)) {
        return nullptr;
    }
    const KL_String* encoding = root->GetAttribute("encodingStyle", kSoapEnvelopeNamespace);
    if (encoding == nullptr || *encoding != kSoapEncodingNamespace) {
        return nullptr;
    }
    const KL_XmlElementNode* body = root->GetChild("Body", kSoapEnvelopeNamespace);
    if (body == nullptr) {
        return nullptr;
    }
    const KL_XmlElementNode* action = FirstChildElement(body);
    if (action == nullptr || action->GetTag().Compare(action_name.GetChars(), true) != 0 ||
        !NamespaceIs(action, service_type.GetChars())) {
        return nullptr;
    }
    return action;
}

} // namespace

KL_Result UP_DeviceHost::ProcessHttpPostRequest(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                                KL_HttpResponse& response) {
    UP_Service* service = nullptr;
    KL_String url = request.GetUrl().ToRequestString();
    if (KL_FAILED(FindServiceByControlURL(url.GetChars(), service, true))) {
        return RefuseRequest(response);
    }
    KL_String action_name;
    if (!ParseSoapAction(request.GetHeaders().GetHeaderValue("SOAPAction"), action_name)) {
        return RefuseRequest(response);
    }
    return ProcessSoapAction(service, action_name.GetChars(), request, context, response);
}

KL_Result UP_DeviceHost::ProcessSoapAction(UP_Service* service, const char* action_name,
                                           KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                           KL_HttpResponse& response) {
    KL_XmlElementNode* tree = nullptr;
    if (KL_FAILED(UP_HttpMessageHelper::ParseBody(request, tree)) || tree == nullptr) {
        return RefuseRequest(response);
    }
    std::unique_ptr<KL_XmlElementNode> root(tree);
    const KL_XmlElementNode* action =
        FindActionElement(root.get(), KL_String(action_name), service->GetServiceType());
    if (action == nullptr) {
        return RefuseRequest(response);
    }

    KL_MemoryStreamReference answer_reference = UP_ConnectionBuffers::AnswerStream(); // reused
    KL_MemoryStream* answer = answer_reference.AsPointer();
    UP_ActionDesc* desc = service->FindActionDesc(action_name);
    bool failed = true;
    if (desc == nullptr) {
        KL_CHECK(UP_ActionCall::FormatSoapError(UP_ACTION_ERROR_INVALID_ACTION, *answer));
    } else {
        UP_ActionCall call(*desc);
        // The old ContentDirectory form names Browse's first argument "ContainerID".
        failed = KL_FAILED(RunAction(call, action, KL_String(action_name) == "Browse", context));
        // A handler may set an error and still answer 0: the error is what the client gets.
        if (!failed && call.GetActionErrorCode() != 0) {
            failed = true;
        }
        if (failed) {
            if (call.GetActionErrorCode() == 0) {
                call.SetActionError(UP_ACTION_ERROR_ACTION_FAILED);
            }
            uint32_t code = 0;
            KL_String description = call.GetActionError(&code);
            KL_LOG_WARNING("Error while processing action %s: %d %s", action_name, static_cast<int>(code),
                           description.GetChars());
        }
        KL_CHECK(call.FormatSoapResponse(*answer));
    }
    if (failed) {
        response.SetStatus(500, "Internal Server Error");
    }
    KL_HttpEntity* entity = nullptr;
    KL_CHECK(UP_HttpMessageHelper::SetBody(response, answer_reference, &entity));
    if (entity != nullptr) {
        (void)entity->SetContentType(kXmlContentType);
    }
    (void)response.GetHeaders().SetHeader("Ext", "");
    return KL_SUCCESS;
}

// Reads the arguments into the call, checks them and runs the handler. A failure leaves its
// error in the call (or none, for 501).
KL_Result UP_DeviceHost::RunAction(UP_ActionCall& call, const KL_XmlElementNode* action, bool browse,
                                   const KL_HttpRequestContext& context) {
    for (KL_XmlNode* node : action->GetChildren()) {
        const KL_XmlElementNode* argument = node->AsElementNode();
        if (argument == nullptr) {
            continue;
        }
        const char* name = argument->GetTag().GetChars();
        if (browse && argument->GetTag() == "ContainerID") {
            name = "ObjectID";
        }
        KL_String value = UP_XmlHelper::GetText(argument);
        if (call.SetArgumentValue(name, value.GetChars()) == KL_ERROR_INVALID_PARAMETERS) {
            call.SetActionError(UP_ACTION_ERROR_INVALID_NAME);
            return KL_FAILURE;
        }
    }
    if (KL_FAILED(call.VerifyArguments(true))) {
        call.SetActionError(UP_ACTION_ERROR_INVALID_OR_MISSING_ARGS);
        return KL_FAILURE;
    }
    KL_LOG_FINE("Processing action \"%s\" from %s", call.GetActionDesc().GetName().GetChars(),
                context.GetRemoteAddress().ToString().GetChars());
    return OnAction(call, context);
}
