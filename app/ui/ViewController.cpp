#include "ViewController.h"

#include "AnimatedSetString.h"
#include "AppSetting.h"
#include "AppText.h"
#include "AppUtils.h"
#include "Localized.h"
#include "MainWindowInterface.h"
#include "MyDLNAService.h"
#include "PathControl.h"
#include "PathText.h"
#include "SYFlatButton.h"
#include "SettingWindowController.h"
#include "ShareListModel.h"
#include "SqliteDataReader.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QTableView>
#include <QTimer>

#include <unistd.h>

namespace lanyard {

namespace {

// The list is loaded this long after the window is built.
constexpr int kRefreshDelayMilliseconds = 200;
constexpr int kShakeMilliseconds = 100;

// Runs one query on the share-list database into the set; the database is closed again.
void queryShareList(JHDataSet& dataSet, const std::string& sql) {
    SqliteDataReader reader;
    reader.initWithDocFile(AppUtils::kDatabaseFileName, std::nullopt, 2);
    reader.excute(&dataSet, sql);
    reader.close();
}

QString textValue(const JHDataSet& dataSet, int row, const char* column) {
    return QString::fromStdString(dataSet.getValue(row, column).value_or(std::string()));
}

} // namespace

ViewController::ViewController(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainWindow"));
    _model = new ShareListModel(
        [this] { return numberOfRowsInTableView(); },
        [this](const QString& column, int row) { return tableViewObjectValue(column, row); }, this);
    const MainWindowOutlets outlets = MainWindowInterface::load(this, _model);
    _srvTable = outlets.srvTable;
    _pathCtrl = outlets.pathCtrl;
    _txtInfoView = outlets.txtInfoView;
    _tbItemDLNA = outlets.tbItemDLNA;
    _tbItemHttp = outlets.tbItemHttp;
    _tbItemWebDAV = outlets.tbItemWebDAV;
    _btnAdd = outlets.btnAdd;
    _btnDel = outlets.btnDel;
    _btnSetting = outlets.btnSetting;
    _btnExit = outlets.btnExit;
    wireActions();
    viewDidLoad();
}

ViewController::~ViewController() {
    // Services still running when the window goes (only in tests: the window refuses to close
    // while one runs) are stopped without telling the window.
    if (_dlnaServer) {
        _dlnaServer->stop();
    }
    if (_webServer) {
        _webServer->setDelegate(nullptr);
        _webServer->stop();
    }
    if (_webDavServer) {
        _webDavServer->setDelegate(nullptr);
        _webDavServer->stop();
    }
}

void ViewController::wireActions() {
    connect(_tbItemDLNA, &QAction::triggered, this, [this] { buttonClickStartOrStopDLNA(_tbItemDLNA); });
    connect(_tbItemHttp, &QAction::triggered, this, [this] { buttonClickStartOrStopHTTP(_tbItemHttp); });
    connect(_tbItemWebDAV, &QAction::triggered, this,
            [this] { buttonClickStartOrStopwebDAV(_tbItemWebDAV); });
    connect(_btnAdd, &SYFlatButton::clicked, this, &ViewController::btnAddClick);
    connect(_btnDel, &SYFlatButton::clicked, this, &ViewController::btnDelClick);
    connect(_btnSetting, &SYFlatButton::clicked, this, &ViewController::btnSettingClick);
    connect(_btnExit, &SYFlatButton::clicked, this, &ViewController::btnExitlick);
    connect(_srvTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ViewController::tableViewSelectionDidChange);
    auto* quit = new QAction(localized("Quit"), this);
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &ViewController::btnExitlick);
    addAction(quit);
}

void ViewController::viewDidLoad() {
    AppUtils::buildDB();
    _srvTable->setFrameShape(QFrame::NoFrame);
    _dlnaServer.reset();
    _webServer.reset();
    _webDavServer.reset();
    adoset = JHDataSet();
    strAppPath = QDir::cleanPath(QDir::homePath());
    QTimer::singleShot(kRefreshDelayMilliseconds, this, &ViewController::Ev_RefreshList);
    _txtInfoView->setPlainText(localized("initialize suc."));
    _txtInfoView->setFocus();
}

void ViewController::setOpenPanelRunner(OpenPanelRunner runner) {
    _openPanelRunner = std::move(runner);
}

void ViewController::setAlertRunner(AlertRunner runner) {
    _alertRunner = std::move(runner);
}

void ViewController::setTerminator(Terminator terminator) {
    _terminator = std::move(terminator);
}

// --- the list -------------------------------------------------------------------------------------

void ViewController::Ev_RefreshList() {
    doLoadDatas();
    QMetaObject::invokeMethod(
        this,
        [this] {
            reloadTable();
            updateProfile();
        },
        Qt::QueuedConnection);
}

void ViewController::doLoadDatas() {
    m_ID = AppSetting::getUserIntConfig(AppUtils::kSelectPathIDKey);
    adoset.closeSet();
    adoset = JHDataSet();
    queryShareList(adoset, AppUtils::kSelectByValSQL);
}

int ViewController::numberOfRowsInTableView() const {
    return adoset.rows();
}

QString ViewController::tableViewObjectValue(const QString& column, int row) const {
    if (column == u"checked") {
        const std::int32_t id = intValueOfText(adoset.getValue(row, "ID").value_or(std::string()));
        return id == m_ID ? QStringLiteral("\U0001F518") : QStringLiteral("\u26AA\uFE0F");
    }
    if (column == u"name") {
        return textValue(adoset, row, "Name");
    }
    if (column == u"path") {
        return displayPath(textValue(adoset, row, "Val"));
    }
    return QString();
}

void ViewController::reloadTable() {
    _model->reloadData();
    selectMarkedRow();
}

// Highlights the row that carries the marker, so that the table's selection and the marker agree.
void ViewController::selectMarkedRow() {
    int marked = -1;
    for (int row = 0; row < adoset.rows(); ++row) {
        if (intValueOfText(adoset.getValue(row, "ID").value_or(std::string())) == m_ID) {
            marked = row;
            break;
        }
    }
    _syncingSelection = true;
    if (marked >= 0) {
        _srvTable->selectRow(marked);
    } else {
        _srvTable->selectionModel()->clearSelection();
    }
    _syncingSelection = false;
}

void ViewController::tableViewSelectionDidChange() {
    if (_syncingSelection) {
        return;
    }
    const QModelIndexList rows = _srvTable->selectionModel()->selectedRows();
    if (rows.isEmpty() || !tableViewShouldSelectRow(rows.first().row())) {
        return;
    }
    const std::int32_t id = intValueOfText(adoset.getValue(rows.first().row(), "ID").value_or(std::string()));
    AppSetting::setUserIntConfig(id, AppUtils::kSelectPathIDKey);
    m_ID = id;
    _model->refreshValues();
    updateProfile();
}

QString ViewController::getCurrentSharePath() {
    JHDataSet dataSet;
    queryShareList(dataSet, AppUtils::selectByIDSQL(m_ID));
    return dataSet.rows() > 0 ? textValue(dataSet, 0, "Val") : QString();
}

void ViewController::updateProfile() {
    const QString path = getCurrentSharePath();
    _pathCtrl->setURL(path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path));
}

QString ViewController::displayPath(const QString& path) const {
    return abbreviatingHomeFolder(path, strAppPath);
}

// --- adding and removing --------------------------------------------------------------------------

void ViewController::btnAddClick() {
    const auto chosen =
        runOpenPanel({localized("Select"), localized("Select folder which you want to share"), QString()});
    if (chosen) {
        for (const QString& path : *chosen) {
            if (mayRead(path)) {
                AppUtils::addNewPath(path.toStdString());
            }
        }
    }
    Ev_RefreshList();
}

void ViewController::btnDelClick() {
    removePathBySelectID();
}

void ViewController::removePathBySelectID() {
    m_ID = AppUtils::removePathBySelectID(m_ID);
    AppSetting::setUserIntConfig(m_ID, AppUtils::kSelectPathIDKey);
    Ev_RefreshList();
}

bool ViewController::mayRead(const QString& path) {
    return !path.isEmpty() && ::access(QFile::encodeName(path).constData(), R_OK) == 0;
}

std::optional<QStringList> ViewController::runOpenPanel(const OpenPanelRequest& request) {
    if (_openPanelRunner) {
        return _openPanelRunner(request);
    }
    QFileDialog panel(this, request.message,
                      request.directory.isEmpty() ? QDir::homePath() : request.directory);
    panel.setObjectName(QStringLiteral("openPanel"));
    panel.setFileMode(QFileDialog::Directory);
    panel.setOption(QFileDialog::ShowDirsOnly, true);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    panel.setLabelText(QFileDialog::Accept, request.prompt);
    panel.setLabelText(QFileDialog::Reject, localized("Cancel"));
    if (panel.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return panel.selectedFiles();
}

void ViewController::askForPermissionReadPath(const QString& path, int type) {
    const auto chosen =
        runOpenPanel({localized("Sure Start"), localized("Permission for accessing and sure"), path});
    if (!chosen) {
        return;
    }
    for (const QString& chosenPath : *chosen) {
        if (!mayRead(chosenPath)) {
            continue;
        }
        switch (type) {
        case ServiceDLNA:
        case ServiceWebDAV:
        case ServiceHTTP:
            startService(static_cast<ServiceType>(type), chosenPath);
            break;
        default:
            break;
        }
    }
}

// --- messages -------------------------------------------------------------------------------------

void ViewController::postAlertWithMessage(const QString& text) {
    if (!text.isEmpty()) {
        AnimatedSetString::setAnimatedStringValue(_txtInfoView, text);
    }
}

void ViewController::postErrMessage(const QString& text) {
    showInfoAlert(QString(), text);
}

void ViewController::showInfoAlert(const QString& title, const QString& text) {
    if (_alertRunner) {
        _alertRunner(title, text);
        return;
    }
    QMessageBox alert(this);
    alert.setObjectName(QStringLiteral("infoAlert"));
    alert.setWindowTitle(localized("Lanyard"));
    alert.setIcon(QMessageBox::Information);
    // Without a title the text itself is the message, so that it reads as one line.
    alert.setText(title.isEmpty() ? text : title);
    alert.setInformativeText(title.isEmpty() ? QString() : text);
    alert.addButton(localized("OK"), QMessageBox::AcceptRole);
    if (auto* grid = qobject_cast<QGridLayout*>(alert.layout())) {
        grid->addItem(new QSpacerItem(340, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    alert.exec();
}

void ViewController::shakeWindow() {
    if (!_shake) {
        _shake = new QPropertyAnimation(this, "pos", this);
        _shake->setObjectName(QStringLiteral("shakeAnimation"));
        _shake->setDuration(kShakeMilliseconds);
    }
    if (_shake->state() == QAbstractAnimation::Running) {
        _shake->stop();
        move(_shake->startValue().toPoint());
    }
    const QPoint origin = pos();
    const int d = std::max(1, static_cast<int>(frameGeometry().width() * 0.02));
    _shake->setStartValue(origin);
    _shake->setKeyValueAt(0.25, origin - QPoint(d, 0));
    _shake->setKeyValueAt(0.75, origin + QPoint(d, 0));
    _shake->setEndValue(origin);
    _shake->start();
    _srvTable->setFocus();
}

// --- settings and leaving -------------------------------------------------------------------------

void ViewController::btnSettingClick() {
    if (!_settingWindowController) {
        _settingWindowController = new SettingWindowController(this);
    }
    _settingWindowController->show();
    _settingWindowController->raise();
    _settingWindowController->activateWindow();
}

void ViewController::btnExitlick() {
    QString message;
    if (_dlnaServer) {
        message = localized("Please stop DLNA service.");
    } else if (_webServer) {
        message = localized("Please stop Wifi service.");
    } else if (_webDavServer) {
        message = localized("Please stop WebDAV service.");
    }
    if (!message.isEmpty()) {
        postErrMessage(message);
        return;
    }
    if (_terminator) {
        _terminator();
    } else {
        QApplication::quit();
    }
}

bool ViewController::windowShouldClose() {
    btnExitlick();
    return false;
}

void ViewController::closeEvent(QCloseEvent* event) {
    if (!windowShouldClose()) {
        event->ignore();
    }
}

} // namespace lanyard
