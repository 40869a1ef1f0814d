// The start and stop of the sharing services from the main window.
#include "ViewController.h"

#include "AnimatedSetString.h"
#include "AppSetting.h"
#include "CommonFunction.h"
#include "Localized.h"
#include "MyDLNAService.h"
#include "PathText.h"
#include "SettingWindowController.h"

#include <foundation/MainBundle.h>

#include <QAction>

#include <utility>

namespace lanyard {

namespace {

constexpr const char* kShowFullPathKey = "showFullPath";
constexpr const char* kDeviceNameKey = "deviceName";

QString serverURLText(const WebServer& server) {
    const auto url = server.serverURL();
    return url ? QString::fromStdString(url->absoluteString()) : QString();
}

// The line at the foot of the web page, naming who made the application.
QString footerText() {
    const std::string version =
        platform::MainBundle::infoValue("CFBundleShortVersionString").value_or(std::string());
    const QString application = (QStringLiteral("Lanyard ") + QString::fromStdString(version)).trimmed();
    return formatted(localized("Shared with %@, free software by the Lanyard developers"),
                     application.toHtmlEscaped());
}

bool hasLanAddress() {
    return CommonFunction::getHostName().has_value();
}

} // namespace

void ViewController::buttonClickStartOrStopDLNA(QAction* sender) {
    clickServiceItem(ServiceDLNA, sender);
}

void ViewController::buttonClickStartOrStopHTTP(QAction* sender) {
    clickServiceItem(ServiceHTTP, sender);
}

void ViewController::buttonClickStartOrStopwebDAV(QAction* sender) {
    clickServiceItem(ServiceWebDAV, sender);
}

void ViewController::clickServiceItem(ServiceType type, QAction* sender) {
    if (sender) {
        (type == ServiceHTTP ? _tbItemHttp : type == ServiceWebDAV ? _tbItemWebDAV : _tbItemDLNA) = sender;
    }
    if (isRunning(type)) {
        stopService(type);
    } else if (m_ID > 0) {
        const QString path = getCurrentSharePath();
        if (mayRead(path)) {
            startService(type, path);
        } else {
            askForPermissionReadPath(path, type);
        }
    } else {
        shakeWindow();
    }
    showRunningServices();
}

void ViewController::showRunningServices() {
    for (const auto& [item, running] :
         {std::pair{_tbItemHttp, _webServer != nullptr}, std::pair{_tbItemWebDAV, _webDavServer != nullptr},
          std::pair{_tbItemDLNA, _dlnaServer != nullptr}}) {
        if (item) {
            item->setChecked(running);
        }
    }
}

bool ViewController::isRunning(ServiceType type) const {
    switch (type) {
    case ServiceDLNA:
        return _dlnaServer != nullptr;
    case ServiceWebDAV:
        return _webDavServer != nullptr;
    case ServiceHTTP:
        return _webServer != nullptr;
    }
    return false;
}

void ViewController::startService(ServiceType type, const QString& path) {
    switch (type) {
    case ServiceWebDAV:
        startWebDAVFilesMgr(path);
        break;
    case ServiceHTTP:
        startWifiFilesMgr(path);
        break;
    case ServiceDLNA:
        startDLNAService(path);
        break;
    }
}

void ViewController::stopService(ServiceType type) {
    switch (type) {
    case ServiceWebDAV:
        stopWebDAVFilesMgr();
        break;
    case ServiceHTTP:
        stopWifiFilesMgr();
        break;
    case ServiceDLNA:
        stopDLNAService();
        break;
    }
}

QString ViewController::refusalWhileOtherRuns(ServiceType type) const {
    if (type != ServiceHTTP && _webServer) {
        return localized("Please stop Wifi service.");
    }
    if (type != ServiceWebDAV && _webDavServer) {
        return localized("Please stop WebDAV service.");
    }
    if (type != ServiceDLNA && _dlnaServer) {
        return localized("Please stop DLNA service.");
    }
    return QString();
}

QString ViewController::webHeaderForPath(const QString& path) const {
    const bool fullPath = AppSetting::getUserIntConfig(kShowFullPathKey) != 0;
    return formatted(localized("Files manage by Http on WiFi:    %@"),
                     fullPath ? displayPath(path) : lastPathComponent(path));
}

QString ViewController::getComputerName() {
    const std::string stored = AppSetting::getUserStrConfig(kDeviceNameKey).value_or(std::string());
    return stored.empty() ? SettingWindowController::getComputerName() : QString::fromStdString(stored);
}

void ViewController::startDLNAService(const QString& path) {
    if (!hasLanAddress()) {
        if (_dlnaServer) {
            _dlnaServer->stop();
            _dlnaServer.reset();
            _tbItemDLNA->setText(localized("Start DLNA"));
        }
        postErrMessage(localized("You need wifi environment in order to use the DLNA Service."));
        return;
    }
    if (const QString refusal = refusalWhileOtherRuns(ServiceDLNA); !refusal.isEmpty()) {
        postErrMessage(refusal);
        return;
    }
    if (_dlnaServer) {
        return;
    }
    const QString name = getComputerName();
    _dlnaServer = std::make_shared<MyDLNAService>();
    if (!_dlnaServer->start(path.toStdString(), name.toStdString())) {
        _dlnaServer.reset();
        return;
    }
    _tbItemDLNA->setText(localized("Stop DLNA"));
    postAlertWithMessage(
        formatted(localized("Browse your DLNA device by your smart TV or other smart device.\r\nName: %@"),
                  name.isEmpty() ? localized("Some iDevice") : name));
}

void ViewController::stopDLNAService() {
    if (!_dlnaServer) {
        return;
    }
    _dlnaServer->stop();
    _dlnaServer.reset();
    _tbItemDLNA->setText(localized("Start DLNA"));
    postAlertWithMessage(localized("DLNA service is stopped"));
}

void ViewController::startWifiFilesMgr(const QString& path) {
    if (!hasLanAddress()) {
        if (_webServer) {
            _webServer->stop();
            _webServer.reset();
            _tbItemHttp->setText(localized("Start HTTP"));
        }
        postErrMessage(localized("You need wifi environment in order to use the http files manage."));
        return;
    }
    if (const QString refusal = refusalWhileOtherRuns(ServiceHTTP); !refusal.isEmpty()) {
        postErrMessage(refusal);
        return;
    }
    if (_webServer) {
        return;
    }
    _webServer = WebUploader::create(path.toStdString(), localized("index").toStdString());
    bool started = false;
    if (_webServer) {
        _webServer->setTitle(localized("Files manage by Http on WiFi").toStdString());
        _webServer->setHeader(webHeaderForPath(path).toStdString());
        _webServer->setFooter(footerText().toStdString());
        _webServer->setDelegate(static_cast<WebUploaderDelegate*>(this));
        _webServer->setAllowHiddenItems(false);
        started = _webServer->start();
    }
    if (!started) {
        _webServer.reset();
        return;
    }
    _tbItemHttp->setText(localized("Stop HTTP"));
    postAlertWithMessage(formatted(localized("Use your web browser of other computer or device  to open the "
                                             "following URL to manage files\uFF1A\r\n%@"),
                                   serverURLText(*_webServer)));
}

void ViewController::stopWifiFilesMgr() {
    if (!_webServer) {
        return;
    }
    _webServer->stop();
    _webServer->setDelegate(nullptr);
    _webServer.reset();
    _tbItemHttp->setText(localized("Start HTTP"));
    postAlertWithMessage(localized("Http Web Management service is stopped"));
}

void ViewController::startWebDAVFilesMgr(const QString& path) {
    if (!hasLanAddress()) {
        if (_webDavServer) {
            _webDavServer->stop();
            _webDavServer.reset();
            _tbItemWebDAV->setText(localized("Start webDAV"));
        }
        postErrMessage(localized("You need wifi environment in order to use the webDAV files manage."));
        return;
    }
    if (const QString refusal = refusalWhileOtherRuns(ServiceWebDAV); !refusal.isEmpty()) {
        postErrMessage(refusal);
        return;
    }
    if (_webDavServer) {
        return;
    }
    _webDavServer = WebDAVServer::create(path.toStdString());
    bool started = false;
    if (_webDavServer) {
        _webDavServer->setDelegate(static_cast<WebDAVServerDelegate*>(this));
        _webDavServer->setAllowHiddenItems(false);
        started = _webDavServer->start();
    }
    if (!started) {
        _webDavServer.reset();
        return;
    }
    _tbItemWebDAV->setText(localized("Stop webDAV"));
    postAlertWithMessage(formatted(localized("Use your file browser of other computer or device  to open the "
                                             "following URL to manage files\uFF1A\r\n%@"),
                                   serverURLText(*_webDavServer)));
}

void ViewController::stopWebDAVFilesMgr() {
    if (!_webDavServer) {
        return;
    }
    _webDavServer->stop();
    _webDavServer->setDelegate(nullptr);
    _webDavServer.reset();
    _tbItemWebDAV->setText(localized("Start webDAV"));
    postAlertWithMessage(localized("WebDav files Management service is stopped"));
}

} // namespace lanyard
