#include "instancelock.h"
#include "kesmarcontrol.h"
#include "panel.h"
#include "scriptbridge.h"
#include "settingsstore.h"
#include "signalwatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

// Parses the command line before anything else is set up: help, the version
// and usage errors end the program here, before the store, the port or even
// the display are touched, so they work on a machine without a display (as
// help2man runs the program). Returns the exit status when the program ends
// here. Qt's own options (-platform, -style, -display, ...) are accepted and
// left for QApplication.
std::optional<int> handleCommandLine(int &argc, char *argv[])
{
    QCoreApplication parsing(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kesmarcontrol"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESMAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Control panel for motorised three-axis micromanipulators: shows the live X, Y and Z position, sends "
            "the manipulator to a target and keeps named positions.\n"
            "The port and the other settings are set in File > Settings and kept with the named positions in %1. "
            "Scripts drive the running panel over the session bus (service org.quellmark.KesmarControl, interface "
            "org.quellmark.KesmarControl1), "
            "e.g. with the kesmar command.")
            .arg(QDir::toNativeSeparators(SettingsStore::fileName())));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption(): its --help-all needs the GUI application's own parsing.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    // Qt's own options, passed on to QApplication; described in the manual page.
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "geometry",
                             "style", "stylesheet", "session", "qwindowgeometry", "qwindowicon", "qwindowtitle"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "kesmarcontrol: %s\nTry 'kesmarcontrol --help'.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kesmarcontrol: unexpected argument '%s'\nTry 'kesmarcontrol --help'.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("kesmarcontrol %s\n", KESMAR_VERSION);
        return 0;
    }
    return std::nullopt;
}

// The installed theme icon where there is one, else the built-in copies.
void setWindowIcon()
{
    QIcon builtIn;
    for (const int size : {16, 32, 48, 64, 128, 256})
        builtIn.addFile(QStringLiteral(":/icons/%1/kesmarcontrol.png").arg(size));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kesmarcontrol"), builtIn));
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = handleCommandLine(argc, argv))
        return *status;

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Scaled by the screen's pixel density, as Qt 6 always is; set before
    // the application object exists.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(KESMAR_VERSION));
    // The desktop entry's name, so that the window is shown with its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kesmarcontrol"));
    // Ctrl+C, a logout or a plain kill end the program the way Exit does,
    // saving included. Watched before anything else, so a signal sent once
    // the instance lock below exists is never missed.
    SignalWatcher signalWatcher({SIGINT, SIGTERM, SIGHUP});

    // One program per settings store; see InstanceLock.
    const QString store = QDir::toNativeSeparators(SettingsStore::fileName());
    InstanceLock lock(store);
    QString notSaving;
    switch (lock.lock()) {
    case InstanceLock::Result::Locked:
        break;
    case InstanceLock::Result::HeldByOther: {
        // The running program comes to the front, where the session bus
        // reaches it; either way this start ends.
        const bool raised = ScriptBridge::raiseRunningPanel(lock.runningPid());
        std::fprintf(stderr, "kesmarcontrol: already running (process %lld) with the settings in %s%s\n",
                     static_cast<long long>(lock.runningPid()), qPrintable(store),
                     raised ? "; its window was brought to the front" : "");
        return 1;
    }
    case InstanceLock::Result::Failed:
        // Without the lock another program may be using the store: this one
        // runs, but writes nothing, and says so until it ends.
        notSaving = lock.failure();
        std::fprintf(stderr, "kesmarcontrol: settings are not saved in this run - %s\n", qPrintable(notSaving));
        break;
    }

    // The panel first, then its views: the window (with the pad) and the
    // bridge that scripts reach over the session bus; without a bus the
    // panel runs as before.
    Panel panel;
    panel.load(notSaving);
    KesmarControl window(panel);
    ScriptBridge bridge(panel);
    bridge.setJournal(&panel.journal());
    // What the first paint does not need comes after it: the window icon and
    // the bus. A window never painted (on a hidden desktop) gets them a
    // second after it was shown.
    bool started = false;
    const auto afterFirstPaint = [&started, &bridge] {
        if (started)
            return;
        started = true;
        setWindowIcon();
        bridge.registerOnSessionBus();
    };
    QObject::connect(&window, &KesmarControl::firstPainted, &bridge, afterFirstPaint);
    QTimer::singleShot(1000, &bridge, afterFirstPaint);
    QObject::connect(&signalWatcher, &SignalWatcher::received, &window, [&window] {
        // An open Settings dialog has no parent and would keep the program
        // running after the main window closed.
        if (window.close())
            QApplication::quit();
    });
    window.show();
    return app.exec();
}
