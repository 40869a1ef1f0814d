#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace lanyard {
class ViewController;
}

namespace lanyard::test {

// Runs the event loop until the condition holds or the time is up; answers the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMilliseconds = 5000);

// The named child; fails the test (and answers null) when there is none.
template <typename T> T* child(QObject* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

// A new folder (with its parents) under the temporary home folder; its full path.
QString makeFolder(const QString& relativePath);

// Clicks the middle of the widget with the left button.
void click(QWidget* widget);

// Shows the window and makes it the active one.
void showAndActivate(QWidget* window);

// Stands in for the modal parts of a main window: open panels answer from a queue (an empty queue
// cancels), alerts are recorded, the application's end is counted.
class WindowDriver {
public:
    explicit WindowDriver(ViewController& window);

    struct Alert {
        QString title;
        QString text;
    };
    struct Panel {
        QString prompt;
        QString message;
        QString directory;
    };

    // The next open panel chooses these folders; none cancels it.
    void answerNextPanel(std::optional<QStringList> folders) { _answers.append(std::move(folders)); }
    const QList<Panel>& panels() const { return _panels; }
    const QList<Alert>& alerts() const { return _alerts; }
    int terminations() const { return _terminations; }

    // Adds the folder through the Add button and waits until the list shows it.
    void addFolder(const QString& path);
    // Waits until the delayed list load has run (and the table shows `rows` rows).
    bool waitForRows(int rows);

private:
    ViewController& _window;
    QList<std::optional<QStringList>> _answers;
    QList<Panel> _panels;
    QList<Alert> _alerts;
    int _terminations = 0;
};

} // namespace lanyard::test
