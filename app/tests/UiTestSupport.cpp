#include "UiTestSupport.h"

#include "TempHome.h"
#include "ViewController.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTableView>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace lanyard::test {

namespace {

// The list is loaded 0.2 s after the window is built.
constexpr int kListLoadMilliseconds = 300;

} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMilliseconds) {
    QDeadlineTimer deadline(timeoutMilliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qSleep(5);
    }
    return true;
}

QString makeFolder(const QString& relativePath) {
    const QString path = QString::fromStdString(temporaryHome()) + u'/' + relativePath;
    EXPECT_TRUE(QDir().mkpath(path)) << path.toStdString();
    return path;
}

void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

void showAndActivate(QWidget* window) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window, 5000));
}

WindowDriver::WindowDriver(ViewController& window) : _window(window) {
    window.setOpenPanelRunner([this](const ViewController::OpenPanelRequest& request) {
        _panels.append({request.prompt, request.message, request.directory});
        return _answers.isEmpty() ? std::nullopt : _answers.takeFirst();
    });
    window.setAlertRunner([this](const QString& title, const QString& text) {
        _alerts.append({title, text});
    });
    window.setTerminator([this] { ++_terminations; });
}

bool WindowDriver::waitForRows(int rows) {
    QTest::qWait(kListLoadMilliseconds);
    const bool shown = waitUntil([&] { return _window.srvTable()->model()->rowCount() == rows; });
    // The table and the path control follow in a block the load posts.
    QCoreApplication::processEvents();
    return shown;
}

void WindowDriver::addFolder(const QString& path) {
    const int before = _window.srvTable()->model()->rowCount();
    answerNextPanel(QStringList{path});
    click(child<QWidget>(&_window, "btnAdd"));
    EXPECT_TRUE(waitUntil([&] { return _window.srvTable()->model()->rowCount() == before + 1; }))
        << "the list does not show " << path.toStdString();
    QCoreApplication::processEvents();
}

} // namespace lanyard::test
