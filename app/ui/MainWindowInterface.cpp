#include "MainWindowInterface.h"

#include "FlatButtonStyles.h"
#include "Localized.h"
#include "PathControl.h"
#include "SYFlatButton.h"
#include "ShareListModel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace lanyard {

namespace {

QTableView* buildTable(QWidget* parent, QAbstractItemModel* model) {
    auto* table = new QTableView(parent);
    table->setObjectName(QStringLiteral("srvTable"));
    table->setModel(model);
    table->setFrameShape(QFrame::NoFrame);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(30);
    QHeaderView* header = table->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(36);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->resizeSection(0, 40);
    header->setSectionResizeMode(1, QHeaderView::Interactive);
    header->resizeSection(1, 180);
    header->setStretchLastSection(true);
    return table;
}

QPlainTextEdit* buildInfoView(QWidget* parent) {
    auto* info = new QPlainTextEdit(parent);
    info->setObjectName(QStringLiteral("txtInfoView"));
    info->setReadOnly(true);
    info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info->setFrameShape(QFrame::NoFrame);
    info->setFocusPolicy(Qt::StrongFocus);
    info->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    info->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    info->document()->setDocumentMargin(10);
    QPalette palette = info->palette();
    palette.setColor(QPalette::Base, QColor(0xf3, 0xf6, 0xfa));
    palette.setColor(QPalette::Text, QColor(0x1f, 0x29, 0x33));
    info->setPalette(palette);
    info->setFixedHeight(info->fontMetrics().lineSpacing() * 4 + 24);
    return info;
}

SYFlatButton* flatButton(QWidget* parent, const char* objectName, FlatButtonStyle style,
                         const QString& title) {
    auto* button = new SYFlatButton(parent);
    button->setObjectName(QString::fromLatin1(objectName));
    applyFlatButtonStyle(button, style, title);
    return button;
}

QLabel* sectionTitle(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QToolBar* buildToolbar(QMainWindow* window, MainWindowOutlets& outlets) {
    auto* toolbar = new QToolBar(localized("Services"), window);
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setIconSize(QSize(32, 32));
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    window->addToolBar(Qt::TopToolBarArea, toolbar);
    outlets.tbItemDLNA = MainWindowInterface::addServiceItem(toolbar, "tbItemDLNA", localized("Start DLNA"),
                                                             QStringLiteral("\U0001F4FA"));
    outlets.tbItemHttp = MainWindowInterface::addServiceItem(toolbar, "tbItemHttp", localized("Start HTTP"),
                                                             QStringLiteral("\U0001F310"));
    outlets.tbItemWebDAV = MainWindowInterface::addServiceItem(
        toolbar, "tbItemWebDAV", localized("Start webDAV"), QStringLiteral("\U0001F5C2\uFE0F"));
    return toolbar;
}

} // namespace

QIcon MainWindowInterface::emojiIcon(const QString& emoji) {
    constexpr int kSide = 64;
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font(QStringLiteral("Noto Color Emoji"));
    font.setPixelSize(kSide * 3 / 4);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, emoji);
    painter.end();
    return QIcon(pixmap);
}

QAction* MainWindowInterface::addServiceItem(QToolBar* toolbar, const char* objectName, const QString& label,
                                             const QString& emoji) {
    auto* item = new QAction(emojiIcon(emoji), label, toolbar);
    item->setObjectName(QString::fromLatin1(objectName));
    // Shown pressed while its service runs; the controller sets the state.
    item->setCheckable(true);
    toolbar->addAction(item);
    return item;
}

MainWindowOutlets MainWindowInterface::load(QMainWindow* window, QAbstractItemModel* model) {
    MainWindowOutlets outlets;
    window->setWindowTitle(localized("Lanyard"));
    outlets.toolbar = buildToolbar(window, outlets);

    auto* central = new QWidget(window);
    central->setObjectName(QStringLiteral("contentView"));
    outlets.srvTable = buildTable(central, model);
    outlets.pathCtrl = new PathControl(central);
    outlets.pathCtrl->setObjectName(QStringLiteral("pathCtrl"));
    outlets.txtInfoView = buildInfoView(central);
    outlets.btnAdd = flatButton(central, "btnAdd", FlatButtonStyle::Primary, localized("Add Folder…"));
    outlets.btnDel = flatButton(central, "btnDel", FlatButtonStyle::Neutral, localized("Remove"));
    outlets.btnSetting = flatButton(central, "btnSetting", FlatButtonStyle::Neutral, localized("Settings"));
    outlets.btnExit = flatButton(central, "btnExit", FlatButtonStyle::Quiet, localized("Exit"));

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    buttons->addWidget(outlets.btnAdd);
    buttons->addWidget(outlets.btnDel);
    buttons->addStretch(1);
    buttons->addWidget(outlets.btnSetting);
    buttons->addWidget(outlets.btnExit);

    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->setSpacing(8);
    layout->addWidget(sectionTitle(localized("Shared folders"), central));
    layout->addWidget(outlets.srvTable, 1);
    layout->addWidget(outlets.pathCtrl);
    layout->addSpacing(4);
    layout->addWidget(outlets.txtInfoView);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    window->setCentralWidget(central);
    window->resize(720, 540);
    window->setMinimumSize(520, 420);
    return outlets;
}

} // namespace lanyard
