#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;

namespace lanyard {

// Shows the file URL of a folder as a trail of its path components ("/ › home › u › Music") behind a
// folder icon, cut in the middle when it does not fit. A double click opens the folder in the
// desktop's file manager. With no URL it shows a quiet placeholder.
class PathControl : public QWidget {
    Q_OBJECT
public:
    explicit PathControl(QWidget* parent = nullptr);

    QUrl url() const { return _url; }
    void setURL(const QUrl& url);
    // The text the control shows (before eliding).
    QString trailText() const { return _trail; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void refresh();

    QUrl _url;
    QString _trail;
    QLabel* _icon;
    QLabel* _text;
};

} // namespace lanyard
