// Lanyard: shares one folder with the devices of the local network.
#include "QtMainQueue.h"
#include "SWBApplication.h"
#include "ViewController.h"

#include <dispatch/MainQueue.h>
#include <foundation/MainBundle.h>

#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace {

// Translations of the window texts, when some are installed: lanyard_<locale>.qm in "translations"
// beside the executable or in ../share/lanyard/translations. Without them the English texts show.
void installTranslations(QApplication& application) {
    const QString executableFolder = QString::fromStdString(platform::MainBundle::executableDirectory());
    auto* translator = new QTranslator(&application);
    for (const QString& folder : {executableFolder + QStringLiteral("/translations"),
                                  executableFolder + QStringLiteral("/../share/lanyard/translations")}) {
        if (translator->load(QLocale(), QStringLiteral("lanyard"), QStringLiteral("_"),
                             QDir::cleanPath(folder))) {
            QCoreApplication::installTranslator(translator);
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    platform::MainBundle::setInfo({.displayName = "Lanyard",
                                   .name = "Lanyard",
                                   .shortVersion = LANYARD_VERSION,
                                   .identifier = "org.lanyard.Lanyard"});
    QCoreApplication::setOrganizationName(QStringLiteral("Lanyard"));
    QCoreApplication::setApplicationName(QStringLiteral("Lanyard"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LANYARD_VERSION));
    lanyard::SWBApplication application(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lanyard"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lanyard"));
    // The window never closes by itself; the application ends through its Exit.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    installTranslations(application);

    platform::dispatch::MainQueue::setBackend(std::make_shared<lanyard::QtMainQueue>());
    int status = 0;
    {
        lanyard::ViewController window;
        window.show();
        status = QApplication::exec();
    }
    platform::dispatch::MainQueue::setBackend(nullptr);
    return status;
}
