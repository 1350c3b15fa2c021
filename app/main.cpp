#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <memory>

#include "commandline.h"
#include "displaycheck.h"
#include "highdpi.h"
#include "mainwindow.h"
#include "modulefeed.h"
#include "portmemory.h"
#include "quitonsignals.h"
#include "recordfile.h"
#include "standardstreams.h"
#include "stderrlog.h"

namespace {
// How long a closing panel lets standard error's reader take the last lines.
constexpr int closeWaitMs = 500;
// How long a start on a broker waits to learn whether the broker refuses the
// panel (its password, its certificate): a broker that answers later, or
// not at all, is shown as away in the window instead.
constexpr int refusalWaitMs = 1500;

// The broker's feed, connecting; null, with the reason told, when it can't
// be used.
std::unique_ptr<ModuleFeed> startFeed(CommandLine &commandLine)
{
    auto feed = std::make_unique<ModuleFeed>(commandLine.broker, commandLine.topic);
    commandLine.broker.password.fill('\0');
    QString problem = feed->start();
    if (problem.isEmpty())
        problem = feed->waitForRefusal(refusalWaitMs);
    if (problem.isEmpty()) {
        // Refused later (the broker's users changed): the status bar says so too.
        QObject::connect(feed.get(), &ModuleFeed::refused, [](const QString &reason) {
            StderrLog::line(QStringLiteral("iopanel: ") + reason);
        });
        return feed;
    }
    StderrLog::line(QStringLiteral("iopanel: ") + problem);
    return nullptr;
}
} // namespace

int main(int argc, char *argv[])
{
    // A closed pipe (standard error, standard output, a record whose reader
    // has gone) shows as a failed write, which costs only what was written;
    // a standard stream closed at the start is never taken by the port.
    guardStandardStreams();

    CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.exit)
        return commandLine.exitCode;

    // Without a display the toolkit aborts with a terse message; say plainly
    // what is missing instead.
    const QString noDisplay = missingDisplayMessage(argc, argv);
    if (!noDisplay.isEmpty()) {
        std::fputs(noDisplay.toLocal8Bit().constData(), stderr);
        return 1;
    }

    // From here on standard error is written by a thread of its own: a reader
    // that stops reading never freezes the window or its close.
    StderrLog::start("iopanel");
    followDesktopScale();
    QApplication app(argc, argv);
    // Lets a Wayland desktop match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.iopanel.iopanel"));
    // A broker that refuses the panel ends it before any window opens.
    std::unique_ptr<ModuleFeed> feed;
    if (commandLine.onBroker && !(feed = startFeed(commandLine))) {
        StderrLog::finish(closeWaitMs);
        return 2;
    }
    // A record file that can't be written is a usage error, found before any
    // window opens. It is opened only once the panel can start, so a refused
    // start leaves no file behind.
    RecordFile record(commandLine.recordFile);
    QString recordError;
    if (!commandLine.recordFile.isEmpty() && !record.open(&recordError)) {
        StderrLog::line(QStringLiteral("iopanel: ") + recordError);
        StderrLog::finish(closeWaitMs);
        return 2;
    }
    // Ctrl-C or a kill ends the event loop like closing the window does, so
    // the worker stops and the port's lock file goes with it.
    QuitOnSignals quitOnSignals;
    MainWindow window;
    if (record.isRecording()) {
        record.reportStopsIn(window.statusBar());
        window.setEvents(&record);
    }
    // ~/.config/iopanel/iopanel.conf keeps the port shown at the last close.
    // Opening the settings reads them, so --no-remember does not open them.
    // A session on the broker has no port to keep.
    std::unique_ptr<QSettings> settings;
    if (commandLine.remember && !feed)
        settings = std::make_unique<QSettings>(QStringLiteral("iopanel"), QStringLiteral("iopanel"));
    QStringList ports = commandLine.ports;
    if (ports.isEmpty() && settings) {
        QString notPolled;
        const QString remembered = rememberedPort(*settings, &notPolled);
        if (!remembered.isEmpty())
            ports << remembered;
        if (!notPolled.isEmpty())
            StderrLog::line(QStringLiteral("iopanel: ") + notPolled);
    }
    // Before the first poll, 100 ms away: the first command goes to the
    // first --port path, or to the remembered port.
    if (!ports.isEmpty())
        window.setExtraPorts(ports);
    if (feed)
        window.watchFeed(feed.get());
    window.show();
    const int exitCode = app.exec();
    if (settings && !rememberPort(*settings, window.currentPort()))
        StderrLog::line(QStringLiteral("iopanel: could not save the port in ") + settings->fileName());
    if (!record.finish(&recordError))
        StderrLog::line(QStringLiteral("iopanel: ") + recordError);
    StderrLog::finish(closeWaitMs);
    return exitCode;
}
