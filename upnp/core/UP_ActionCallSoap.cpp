// The SOAP texts of an action call: response, fault and request envelopes.
#include "KL_Check.h"
#include "KL_OutputStream.h"
#include "KL_XmlElementNode.h"
#include "KL_XmlSerializer.h"
#include "UP_ActionCall.h"
#include "UP_Service.h"
#include "UP_XmlHelper.h"

#include <memory>

KL_SET_LOCAL_LOGGER("upnp.core.soap");

namespace {

const char* const kSoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
const char* const kSoapEncodingNamespace = "http://schemas.xmlsoap.org/soap/encoding/";
const char* const kControlNamespace = "urn:schemas-upnp-org:control-1-0";

KL_Result MakeEnvelope(std::unique_ptr<KL_XmlElementNode>& envelope, KL_XmlElementNode*& body) {
    envelope.reset(new (std::nothrow) KL_XmlElementNode("s", "Envelope"));
    KL_CHECK_POINTER_SEVERE(envelope.get());
    KL_CHECK_SEVERE(envelope->SetAttribute("s", "encodingStyle", kSoapEncodingNamespace));
    KL_CHECK_SEVERE(envelope->SetNamespaceUri("s", kSoapEnvelopeNamespace));
    body = UP_XmlHelper::AddChildElement(envelope.get(), "Body", "s");
    KL_CHECK_POINTER_SEVERE(body);
    return KL_SUCCESS;
}

// Serialises with the declaration and no indentation, then writes the text in one write.
KL_Result WriteEnvelope(const KL_XmlElementNode& envelope, KL_OutputStream& stream) {
    KL_String text;
    KL_CHECK_SEVERE(UP_XmlHelper::Serialize(envelope, text, true, 0));
    KL_CHECK_SEVERE(stream.WriteFully(text.GetChars(), text.GetLength()));
    return KL_SUCCESS;
}

} // namespace

// Written straight into the stream, each value escaped once on its way: no tree, no copy of a
// big value (a Browse Result) and no second pass over it.
KL_Result UP_ActionCall::FormatSoapCall(KL_OutputStream& stream, const char* suffix,
                                        const char* direction) const {
    KL_XmlSerializer writer(&stream, 0, true, true);
    const KL_String name = m_ActionDesc.GetName() + suffix;
    UP_Service* service = m_ActionDesc.GetService();
    KL_CHECK_SEVERE(writer.StartDocument());
    KL_CHECK_SEVERE(writer.StartElement("s", "Envelope"));
    KL_CHECK_SEVERE(writer.Attribute("s", "encodingStyle", kSoapEncodingNamespace));
    KL_CHECK_SEVERE(writer.Attribute("xmlns", "s", kSoapEnvelopeNamespace));
    KL_CHECK_SEVERE(writer.StartElement("s", "Body"));
    KL_CHECK_SEVERE(writer.StartElement("u", name.GetChars()));
    KL_CHECK_SEVERE(writer.Attribute("xmlns", "u", service ? service->GetServiceType().GetChars() : ""));
    for (const UP_Argument* argument : m_Arguments) {
        const UP_ArgumentDesc* desc = argument->GetDesc();
        if (desc->GetDirection().Compare(direction, true) == 0) {
            KL_CHECK_SEVERE(writer.StartElement(nullptr, desc->GetName().GetChars()));
            KL_CHECK_SEVERE(writer.Text(argument->GetValue().GetChars()));
            KL_CHECK_SEVERE(writer.EndElement(nullptr, desc->GetName().GetChars()));
        }
    }
    KL_CHECK_SEVERE(writer.EndElement("u", name.GetChars()));
    KL_CHECK_SEVERE(writer.EndElement("s", "Body"));
    KL_CHECK_SEVERE(writer.EndElement("s", "Envelope"));
    return writer.EndDocument();
}

KL_Result UP_ActionCall::FormatSoapResponse(KL_OutputStream& stream) const {
    if (m_ErrorCode != 0) {
        return FormatSoapError(m_ErrorCode, m_ErrorDescription.GetChars(), stream);
    }
    return FormatSoapCall(stream, "Response", "out");
}

KL_Result UP_ActionCall::FormatSoapRequest(KL_OutputStream& stream) const {
    return FormatSoapCall(stream, "", "in");
}

KL_Result UP_ActionCall::FormatSoapError(uint32_t code, const char* description, KL_OutputStream& stream) {
    std::unique_ptr<KL_XmlElementNode> envelope;
    KL_XmlElementNode* body = nullptr;
    KL_CHECK_SEVERE(MakeEnvelope(envelope, body));
    KL_XmlElementNode* fault = UP_XmlHelper::AddChildElement(body, "Fault", "s");
    KL_CHECK_POINTER_SEVERE(fault);
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(fault, "faultcode", "s:Client"));
    KL_CHECK_SEVERE(UP_XmlHelper::AddChildText(fault, "faultstring", "UPnPError"));
    KL_XmlElementNode* detail = UP_XmlHelper::AddChildElement(fault, "detail");
    KL_CHECK_POINTER_SEVERE(detail);
    KL_XmlElementNode* UPnPError = UP_XmlHelper::AddChildElement(detail, "UPnPError");
    KL_CHECK_POINTER_SEVERE(UPnPError);
    KL_CHECK_SEVERE(UPnPError->SetNamespaceUri("", kControlNamespace));
    KL_Result res = KL_SUCCESS;
    KL_CHECK_SEVERE(
        res = UP_XmlHelper::AddChildText(UPnPError, "errorCode", KL_String::FromIntegerU(code).GetChars()));
    KL_CHECK_SEVERE(
        res = UP_XmlHelper::AddChildText(UPnPError, "errorDescription", description ? description : ""));
    return WriteEnvelope(*envelope, stream);
}
