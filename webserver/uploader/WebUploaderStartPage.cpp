// The start page of the web file manager: the bundle's HTML template filled with six variables.

#include "WebUploader.h"

#include "WebServerDataResponse.h"
#include "WebServerFunctions.h"
#include "WebServerHTMLFunctions.h"

#include "foundation/MainBundle.h"
#include "foundation/OperatingSystem.h"
#include "foundation/ResourceBundle.h"
#include "sysconfig/SystemConfiguration.h"

using platform::MainBundle;

namespace {

// The page title when none is set: the program's display name, else its name, else the name of
// its executable.
std::string defaultTitle() {
    if (auto displayName = MainBundle::infoValue("CFBundleDisplayName")) {
        return *displayName;
    }
    if (auto name = MainBundle::infoValue("CFBundleName")) {
        return *name;
    }
    return MainBundle::executableName();
}

// The footer when none is set: the bundle's format with the program's name and version, or with
// the system's name and version when the program declares neither.
std::string defaultFooter(const platform::ResourceBundle& bundle) {
    const std::string format = bundle.localizedString("FOOTER_FORMAT", "%@ %@");
    const auto name = MainBundle::infoValue("CFBundleDisplayName");
    const auto version = MainBundle::infoValue("CFBundleShortVersionString");
    if (!name && !version) {
        return StringWithFormat(format,
                                {platform::OperatingSystem::name(), platform::OperatingSystem::version()});
    }
    return StringWithFormat(format, {name.value_or(""), version.value_or("")});
}

} // namespace

std::shared_ptr<WebServerResponse> WebUploader::startPage(const platform::ResourceBundle& bundle,
                                                          const std::string& startHtml) const {
    const auto templatePath = bundle.pathForResource(startHtml, "html");
    if (!templatePath) {
        return nullptr;
    }
    std::optional<std::string> title, header, prologue, epilogue, footer;
    {
        std::lock_guard lock(_propertiesLock);
        title = _title;
        header = _header;
        prologue = _prologue;
        epilogue = _epilogue;
        footer = _footer;
    }
    const std::string device = platform::SystemConfiguration::computerName().value_or("");
    const std::string pageTitle = title ? *title : defaultTitle();
    // The device, title, header and footer are plain text; the prologue and epilogue are HTML.
    const std::map<std::string, std::string> variables{
        {"device", EscapeHTMLString(device)},
        {"title", EscapeHTMLString(pageTitle)},
        {"header", EscapeHTMLString(header ? *header : pageTitle)},
        {"prologue", prologue ? *prologue : bundle.localizedString("PROLOGUE", "")},
        {"epilogue", epilogue ? *epilogue : bundle.localizedString("EPILOGUE", "")},
        {"footer", EscapeHTMLString(footer ? *footer : defaultFooter(bundle))},
    };
    return WebServerDataResponse::responseWithHTMLTemplate(*templatePath, variables);
}
