#include "SettingWindowController.h"

#include "AppSetting.h"
#include "FlatButtonStyles.h"
#include "Localized.h"
#include "SYFlatButton.h"

#include <sysconfig/SystemConfiguration.h>

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace lanyard {

namespace {

constexpr const char* kDeviceNameKey = "deviceName";
constexpr const char* kShowFullPathKey = "showFullPath";

QLabel* hintLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(false);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

} // namespace

SettingWindowController::SettingWindowController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("settingWindow"));
    setWindowTitle(localized("Settings"));
    setModal(false);
    windowDidLoad();
}

void SettingWindowController::windowDidLoad() {
    _tabViews = new QTabWidget(this);
    _tabViews->setObjectName(QStringLiteral("tabViews"));
    _tabViews->setDocumentMode(false);
    _tabViews->addTab(buildGeneralTab(), localized("General"));

    _btnCancel = new SYFlatButton(this);
    _btnCancel->setObjectName(QStringLiteral("btnCancel"));
    applyFlatButtonStyle(_btnCancel, FlatButtonStyle::Neutral, localized("Cancel"));
    _btnOK = new SYFlatButton(this);
    _btnOK->setObjectName(QStringLiteral("btnOK"));
    applyFlatButtonStyle(_btnOK, FlatButtonStyle::Primary, localized("OK"));
    connect(_btnOK, &SYFlatButton::clicked, this, &SettingWindowController::btnClickOK);
    connect(_btnCancel, &SYFlatButton::clicked, this, &SettingWindowController::btnClickCancel);
    // Return in the name field is OK; Escape and the window's close button cancel.
    connect(_txtName, &QLineEdit::returnPressed, this, &SettingWindowController::btnClickOK);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    buttons->addStretch(1);
    buttons->addWidget(_btnCancel);
    buttons->addWidget(_btnOK);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);
    layout->addWidget(_tabViews, 1);
    layout->addLayout(buttons);
    resize(500, 250);
    setDefaultName();
}

QWidget* SettingWindowController::buildGeneralTab() {
    auto* page = new QWidget(this);
    _txtName = new QLineEdit(page);
    _txtName->setObjectName(QStringLiteral("txtName"));
    _txtName->setMinimumWidth(240);
    _txtName->setClearButtonEnabled(true);
    _btnShowFullPath = new QCheckBox(localized("Show the full folder path in the web page header"), page);
    _btnShowFullPath->setObjectName(QStringLiteral("btnShowFullPath"));

    auto* form = new QFormLayout(page);
    form->setContentsMargins(16, 16, 16, 12);
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(8);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->addRow(localized("Device name:"), _txtName);
    form->addRow(QString(), hintLabel(localized("The name TVs and players show for this computer."), page));
    form->addRow(QString(), _btnShowFullPath);
    return page;
}

void SettingWindowController::setDefaultName() {
    const std::string stored = AppSetting::getUserStrConfig(kDeviceNameKey).value_or(std::string());
    _txtName->setText(stored.empty() ? getComputerName() : QString::fromStdString(stored));
    _btnShowFullPath->setChecked(AppSetting::getUserIntConfig(kShowFullPathKey) != 0);
}

QString SettingWindowController::getComputerName() {
    const auto computer = platform::SystemConfiguration::computerName();
    if (computer && !computer->empty()) {
        return QString::fromStdString(*computer);
    }
    const auto local = platform::SystemConfiguration::localHostName();
    if (local && !local->empty()) {
        return QString::fromStdString(*local);
    }
    return localized("Unkown Mac OS");
}

void SettingWindowController::btnClickOK() {
    AppSetting::setUserStrConfig(_txtName->text().toStdString(), kDeviceNameKey);
    AppSetting::setUserIntConfig(_btnShowFullPath->isChecked() ? 1 : 0, kShowFullPathKey);
}

void SettingWindowController::btnClickCancel() {
    close();
}

} // namespace lanyard
