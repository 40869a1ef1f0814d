#include "PathControl.h"

#include "Localized.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

namespace lanyard {

namespace {

constexpr int kIconSize = 16;
const QString kSeparator = QStringLiteral("  \u203A  ");

QString trailFor(const QUrl& url) {
    if (url.isEmpty()) {
        return {};
    }
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.toString();
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (path.startsWith(u'/')) {
        parts.prepend(QStringLiteral("/"));
    }
    return parts.join(kSeparator);
}

} // namespace

PathControl::PathControl(QWidget* parent)
    : QWidget(parent), _icon(new QLabel(this)), _text(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(6);
    _icon->setFixedSize(kIconSize, kIconSize);
    _icon->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(kIconSize, kIconSize));
    _text->setTextInteractionFlags(Qt::NoTextInteraction);
    _text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(_icon);
    layout->addWidget(_text, 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    refresh();
}

void PathControl::setURL(const QUrl& url) {
    _url = url;
    _trail = trailFor(url);
    refresh();
}

QSize PathControl::sizeHint() const {
    return QSize(320, std::max(kIconSize, fontMetrics().height()) + 8);
}

QSize PathControl::minimumSizeHint() const {
    return QSize(120, sizeHint().height());
}

void PathControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

void PathControl::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (_url.isLocalFile()) {
        QDesktopServices::openUrl(_url);
    }
}

void PathControl::refresh() {
    const bool empty = _trail.isEmpty();
    _icon->setEnabled(!empty);
    QPalette palette = _text->palette();
    palette.setColor(QPalette::WindowText,
                     this->palette().color(empty ? QPalette::PlaceholderText : QPalette::WindowText));
    _text->setPalette(palette);
    const QString shown = empty ? localized("No folder selected") : _trail;
    const int width = std::max(0, _text->width());
    _text->setText(_text->fontMetrics().elidedText(shown, Qt::ElideMiddle, width));
    setToolTip(_url.isLocalFile() ? _url.toLocalFile() : QString());
}

} // namespace lanyard
