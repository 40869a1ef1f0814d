// Shared helpers of the model tests: data files and services made from SCPD texts.
#pragma once

#include "KL_String.h"
#include "KL_StringOutputStream.h"
#include "KL_XmlElementNode.h"
#include "UP_ActionCall.h"
#include "UP_Service.h"
#include "UP_XmlHelper.h"

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace model_test {

inline std::string ReadDataFile(const std::string& name) {
    std::ifstream in(std::string(UPNP_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline const char* TestServiceType() {
    return "urn:schemas-lanyard-org:service:Test:1";
}

// A service without device read from an SCPD text (check the result with Load's answer).
inline std::unique_ptr<UP_Service> MakeService() {
    return std::make_unique<UP_Service>(nullptr, TestServiceType(), "urn:lanyard-org:serviceId:Test");
}

inline std::unique_ptr<UP_Service> LoadService(const std::string& scpd) {
    auto service = MakeService();
    if (KL_FAILED(service->SetSCPDXML(scpd.c_str()))) {
        return nullptr;
    }
    return service;
}

// An SCPD with the given state table and action list bodies.
inline std::string Scpd(const std::string& variables, const std::string& actions = "") {
    return "<?xml version=\"1.0\"?><scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"
           "<specVersion><major>1</major><minor>0</minor></specVersion><actionList>" +
           actions + "</actionList><serviceStateTable>" + variables + "</serviceStateTable></scpd>";
}

inline std::string Variable(const std::string& name, const std::string& type, const std::string& extra = "",
                            const char* send_events = "no") {
    return std::string("<stateVariable sendEvents=\"") + send_events + "\"><name>" + name +
           "</name><dataType>" + type + "</dataType>" + extra + "</stateVariable>";
}

inline std::string Response(const UP_ActionCall& call) {
    KL_StringOutputStream out;
    if (KL_FAILED(call.FormatSoapResponse(out))) {
        return "<failed>";
    }
    return out.GetString().GetChars();
}

} // namespace model_test
