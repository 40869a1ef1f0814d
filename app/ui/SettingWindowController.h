#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QTabWidget;

namespace lanyard {

class SYFlatButton;

// The settings window: the device name under which the media server is announced ("deviceName") and
// whether the web page header shows the shared folder's full path ("showFullPath"). OK stores both and
// leaves the window open; Cancel closes it without storing. The fields are filled once, when the
// window is built, so reopening it shows them as they were left.
class SettingWindowController : public QDialog {
    Q_OBJECT
public:
    explicit SettingWindowController(QWidget* parent = nullptr);

    // The name field shows the stored device name, else the computer name; the check box the stored
    // "showFullPath".
    void setDefaultName();
    // The computer name, else the local host name, else "Unkown Mac OS". The main window announces
    // the media server under this name when the setting "deviceName" is empty.
    static QString getComputerName();

    void btnClickOK();
    void btnClickCancel();

    QLineEdit* txtName() const { return _txtName; }
    void setTxtName(QLineEdit* field) { _txtName = field; }
    QCheckBox* btnShowFullPath() const { return _btnShowFullPath; }
    void setBtnShowFullPath(QCheckBox* box) { _btnShowFullPath = box; }
    QTabWidget* tabViews() const { return _tabViews; }
    void setTabViews(QTabWidget* tabs) { _tabViews = tabs; }

private:
    void windowDidLoad();
    QWidget* buildGeneralTab();

    QLineEdit* _txtName = nullptr;
    QCheckBox* _btnShowFullPath = nullptr;
    QTabWidget* _tabViews = nullptr;
    SYFlatButton* _btnOK = nullptr;
    SYFlatButton* _btnCancel = nullptr;
};

} // namespace lanyard
