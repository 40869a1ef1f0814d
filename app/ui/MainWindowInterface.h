#pragma once

class QAbstractItemModel;
class QAction;
class QIcon;
class QMainWindow;
class QPlainTextEdit;
class QString;
class QTableView;
class QToolBar;

namespace lanyard {

class PathControl;
class SYFlatButton;

// The widgets of the main window, by their outlet names.
struct MainWindowOutlets {
    QToolBar* toolbar = nullptr;
    QAction* tbItemDLNA = nullptr;
    QAction* tbItemHttp = nullptr;
    QAction* tbItemWebDAV = nullptr;
    QTableView* srvTable = nullptr;
    PathControl* pathCtrl = nullptr;
    QPlainTextEdit* txtInfoView = nullptr;
    SYFlatButton* btnAdd = nullptr;
    SYFlatButton* btnDel = nullptr;
    SYFlatButton* btnSetting = nullptr;
    SYFlatButton* btnExit = nullptr;
};

// Builds the main window's widgets: the toolbar with the service items, the table of shared folders
// on the model, the path control, the information text and the row of buttons. Every widget carries
// its outlet name as object name; nothing is wired to the controller here.
class MainWindowInterface {
public:
    static MainWindowOutlets load(QMainWindow* window, QAbstractItemModel* model);
    // A toolbar item for a service, with its start label and emoji icon, added to the toolbar.
    static QAction* addServiceItem(QToolBar* toolbar, const char* objectName, const QString& label,
                                   const QString& emoji);
    // The emoji drawn as an icon.
    static QIcon emojiIcon(const QString& emoji);
};

} // namespace lanyard
