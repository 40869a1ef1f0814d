// upnpdoc: prints one document of the UPnP framework on standard output.
//
//   upnpdoc scpd FILE
//   upnpdoc description FILE [--uuid U] [--config-id N]
//   upnpdoc response FILE ACTION NAME=VALUE...
//   upnpdoc fault CODE DESCRIPTION
//
// On failure the result code's name goes to standard error and the exit code is 1.
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_StringOutputStream.h"
#include "UP_ActionCall.h"
#include "UP_DeviceData.h"
#include "UP_Service.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

const char* const kServiceType = "urn:schemas-lanyard-org:service:Test:1";
const char* const kServiceId = "urn:lanyard-org:serviceId:Test";

KL_Result ReadFile(const char* path, KL_String& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return KL_ERROR_NO_SUCH_FILE;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str().c_str();
    return KL_SUCCESS;
}

KL_Result Print(const KL_String& text) {
    if (std::fwrite(text.GetChars(), 1, text.GetLength(), stdout) != text.GetLength()) {
        return KL_FAILURE;
    }
    return std::fflush(stdout) == 0 ? KL_SUCCESS : KL_FAILURE;
}

KL_Result LoadService(UP_Service& service, const char* path) {
    KL_String text;
    KL_Result res = ReadFile(path, text);
    return KL_SUCCEEDED(res) ? service.SetSCPDXML(text.GetChars()) : res;
}

KL_Result Scpd(int argc, char** argv) {
    if (argc != 3) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    UP_Service service(nullptr, kServiceType, kServiceId);
    KL_Result res = LoadService(service, argv[2]);
    KL_String scpd;
    if (KL_SUCCEEDED(res)) {
        res = service.GetSCPDXML(scpd);
    }
    return KL_SUCCEEDED(res) ? Print(scpd) : res;
}

KL_Result Description(int argc, char** argv) {
    if (argc < 3) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    const char* uuid = nullptr;
    const char* config_id = nullptr;
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc) {
            return KL_ERROR_INVALID_PARAMETERS;
        }
        if (std::strcmp(argv[i], "--uuid") == 0) {
            uuid = argv[i + 1];
        } else if (std::strcmp(argv[i], "--config-id") == 0) {
            config_id = argv[i + 1];
        } else {
            return KL_ERROR_INVALID_PARAMETERS;
        }
    }
    UP_DeviceData device("http://127.0.0.1/DeviceDescription.xml", uuid, KL_TimeStamp::FromSeconds(1800),
                         "urn:schemas-lanyard-org:device:TestDevice:1", "Lanyard Test Device");
    device.m_Manufacturer = "Lanyard";
    device.m_ManufacturerURL = "";
    device.m_ModelURL = "";
    auto* service = new UP_Service(&device, kServiceType, kServiceId, "Test");
    KL_Result res = LoadService(*service, argv[2]);
    if (KL_SUCCEEDED(res)) {
        res = device.AddService(service);
    }
    if (KL_FAILED(res)) {
        delete service;
        return res;
    }
    if (config_id != nullptr) {
        uint32_t id = 0;
        KL_Result parsed = KL_String(config_id).ToInteger(id, false);
        if (KL_FAILED(parsed)) {
            return parsed;
        }
        device.SetConfigIdValue(id);
    }
    KL_String description;
    res = device.GetDescription(description);
    return KL_SUCCEEDED(res) ? Print(description) : res;
}

KL_Result Response(int argc, char** argv) {
    if (argc < 4) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    UP_Service service(nullptr, kServiceType, kServiceId);
    KL_Result res = LoadService(service, argv[2]);
    if (KL_FAILED(res)) {
        return res;
    }
    UP_ActionDesc* desc = service.FindActionDesc(argv[3]);
    if (desc == nullptr) {
        return KL_ERROR_NO_SUCH_NAME;
    }
    UP_ActionCall call(*desc);
    for (int i = 4; i < argc; ++i) {
        const char* equals = std::strchr(argv[i], '=');
        if (equals == nullptr) {
            return KL_ERROR_INVALID_PARAMETERS;
        }
        KL_String name(argv[i], KL_Size(equals - argv[i]));
        res = call.SetArgumentValue(name.GetChars(), equals + 1);
        if (KL_FAILED(res)) {
            return res;
        }
    }
    KL_StringOutputStream out;
    res = call.FormatSoapResponse(out);
    return KL_SUCCEEDED(res) ? Print(out.GetString()) : res;
}

KL_Result Fault(int argc, char** argv) {
    uint32_t code = 0;
    if (argc != 4 || KL_FAILED(KL_String(argv[2]).ToInteger(code, false))) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_StringOutputStream out;
    KL_Result res = UP_ActionCall::FormatSoapError(code, argv[3], out);
    return KL_SUCCEEDED(res) ? Print(out.GetString()) : res;
}

} // namespace

int main(int argc, char** argv) {
    KL_Result res = KL_ERROR_INVALID_PARAMETERS;
    const char* command = argc > 1 ? argv[1] : "";
    if (std::strcmp(command, "scpd") == 0) {
        res = Scpd(argc, argv);
    } else if (std::strcmp(command, "description") == 0) {
        res = Description(argc, argv);
    } else if (std::strcmp(command, "response") == 0) {
        res = Response(argc, argv);
    } else if (std::strcmp(command, "fault") == 0) {
        res = Fault(argc, argv);
    } else {
        std::fprintf(stderr, "usage: upnpdoc scpd FILE | description FILE [--uuid U] [--config-id N] | "
                             "response FILE ACTION NAME=VALUE... | fault CODE DESCRIPTION\n");
    }
    if (KL_FAILED(res)) {
        std::fprintf(stderr, "%s\n", KL_GetResultText(res));
        return 1;
    }
    return 0;
}
