#pragma once

#include "JHDataSet.h"

#include <WebDAVServer.h>
#include <WebUploader.h>

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QPlainTextEdit;
class QPropertyAnimation;
class QTableView;

class MyDLNAService;

namespace lanyard {

class PathControl;
class SettingWindowController;
class ShareListModel;
class SYFlatButton;

// The main window and its controller: the list of shared folders with the selected one, the path
// of the selection, an information text, and the toolbar items that start and stop the sharing
// services. At most one service runs at a time; every service needs a LAN address; the window
// refuses to close, and the application to quit, while a service runs.
//
// The controller is the delegate of the web servers it starts and answers none of their
// notifications.
class ViewController : public QMainWindow, public WebUploaderDelegate, public WebDAVServerDelegate {
    Q_OBJECT
public:
    // Service kinds as the permission panel names them.
    enum ServiceType { ServiceDLNA = 0, ServiceWebDAV = 1, ServiceHTTP = 2 };

    // What an open panel asks: its button text, its message and the folder it opens at ("" for the
    // panel's own choice).
    struct OpenPanelRequest {
        QString prompt;
        QString message;
        QString directory;
    };
    // Runs an open panel for folders; the chosen folders, or none when it was cancelled.
    using OpenPanelRunner = std::function<std::optional<QStringList>(const OpenPanelRequest&)>;
    // Shows a modal alert (message text, informative text) and returns when it is dismissed.
    using AlertRunner = std::function<void(const QString& title, const QString& text)>;
    // Ends the application.
    using Terminator = std::function<void()>;

    explicit ViewController(QWidget* parent = nullptr);
    ~ViewController() override;

    // Replace the modal parts (open panels, alerts, the application's end); none restores the default.
    void setOpenPanelRunner(OpenPanelRunner runner);
    void setAlertRunner(AlertRunner runner);
    void setTerminator(Terminator terminator);

    // Actions.
    void buttonClickStartOrStopDLNA(QAction* sender);
    void buttonClickStartOrStopwebDAV(QAction* sender);
    void buttonClickStartOrStopHTTP(QAction* sender);
    void btnAddClick();
    void btnDelClick();
    void btnSettingClick();
    void btnExitlick();

    // The list and the selection.
    void Ev_RefreshList();
    void doLoadDatas();
    QString getCurrentSharePath();
    void removePathBySelectID();
    void updateProfile();

    // Messages.
    void postAlertWithMessage(const QString& text);
    void postErrMessage(const QString& text);
    void showInfoAlert(const QString& title, const QString& text);
    void askForPermissionReadPath(const QString& path, int type);
    void shakeWindow();

    // The services.
    // The name the media server shows: the setting "deviceName" when not empty, else the computer's
    // name as the settings window offers it.
    static QString getComputerName();
    void startDLNAService(const QString& path);
    void stopDLNAService();
    void startWifiFilesMgr(const QString& path);
    void stopWifiFilesMgr();
    void startWebDAVFilesMgr(const QString& path);
    void stopWebDAVFilesMgr();

    // The table's data source and delegate.
    int numberOfRowsInTableView() const;
    QString tableViewObjectValue(const QString& column, int row) const;
    bool tableViewShouldSelectRow(int row) const { return row >= 0; }
    void tableViewSelectionDidChange();
    // The window's delegate: never lets the window close (closing quits when no service runs).
    bool windowShouldClose();

    // Outlets and state.
    QTableView* srvTable() const { return _srvTable; }
    PathControl* pathCtrl() const { return _pathCtrl; }
    QPlainTextEdit* txtInfoView() const { return _txtInfoView; }
    QAction* tbItemHttp() const { return _tbItemHttp; }
    QAction* tbItemWebDAV() const { return _tbItemWebDAV; }
    QAction* tbItemDLNA() const { return _tbItemDLNA; }
    SettingWindowController* settingWindowController() const { return _settingWindowController; }
    std::int32_t selectedPathID() const { return m_ID; }
    const QString& appPath() const { return strAppPath; }
    const JHDataSet& dataSet() const { return adoset; }
    std::shared_ptr<MyDLNAService> dlnaServer() const { return _dlnaServer; }
    std::shared_ptr<WebUploader> webServer() const { return _webServer; }
    std::shared_ptr<WebDAVServer> webDavServer() const { return _webDavServer; }
    bool isServiceRunning() const { return _dlnaServer || _webServer || _webDavServer; }

    // The path as the window shows it: the home folder written as "~".
    QString displayPath(const QString& path) const;
    // The web page header for a shared folder, as "showFullPath" asks.
    QString webHeaderForPath(const QString& path) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void wireActions();
    void viewDidLoad();
    void reloadTable();
    void selectMarkedRow();
    std::optional<QStringList> runOpenPanel(const OpenPanelRequest& request);
    void clickServiceItem(ServiceType type, QAction* sender);
    bool isRunning(ServiceType type) const;
    // The toolbar items of running services show pressed.
    void showRunningServices();
    void startService(ServiceType type, const QString& path);
    void stopService(ServiceType type);
    // The refusal when another service than `type` runs; "" when none does.
    QString refusalWhileOtherRuns(ServiceType type) const;
    static bool mayRead(const QString& path);

    // The running services; a set field means that service runs.
    std::shared_ptr<MyDLNAService> _dlnaServer;
    std::shared_ptr<WebUploader> _webServer;
    std::shared_ptr<WebDAVServer> _webDavServer;
    JHDataSet adoset;
    std::int32_t m_ID = 0;
    QString strAppPath;

    ShareListModel* _model = nullptr;
    QTableView* _srvTable = nullptr;
    PathControl* _pathCtrl = nullptr;
    QPlainTextEdit* _txtInfoView = nullptr;
    QAction* _tbItemDLNA = nullptr;
    QAction* _tbItemWebDAV = nullptr;
    QAction* _tbItemHttp = nullptr;
    SYFlatButton* _btnAdd = nullptr;
    SYFlatButton* _btnDel = nullptr;
    SYFlatButton* _btnSetting = nullptr;
    SYFlatButton* _btnExit = nullptr;
    SettingWindowController* _settingWindowController = nullptr;
    QPropertyAnimation* _shake = nullptr;
    // Set while the table's selection follows the marker, which is no choice of the user.
    bool _syncingSelection = false;

    OpenPanelRunner _openPanelRunner;
    AlertRunner _alertRunner;
    Terminator _terminator;
};

} // namespace lanyard
