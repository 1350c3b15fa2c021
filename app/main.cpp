#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <memory>

#include "commandline.h"
#include "displaycheck.h"
#include "highdpi.h"
#include "mainwindow.h"
#include "portmemory.h"
#include "quitonsignals.h"
#include "recordfile.h"
#include "standardstreams.h"
#include "stderrlog.h"

namespace {
// How long a closing panel lets standard error's reader take the last lines.
constexpr int closeWaitMs = 500;
} // namespace

int main(int argc, char *argv[])
{
    // A closed pipe (standard error, standard output, a record whose reader
    // has gone) shows as a failed write, which costs only what was written;
    // a standard stream closed at the start is never taken by the port.
    guardStandardStreams();

    const CommandLine commandLine = parseCommandLine(argc, argv);
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
    std::unique_ptr<QSettings> settings;
    if (commandLine.remember)
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
    window.show();
    const int exitCode = app.exec();
    if (settings && !rememberPort(*settings, window.currentPort()))
        StderrLog::line(QStringLiteral("iopanel: could not save the port in ") + settings->fileName());
    if (!record.finish(&recordError))
        StderrLog::line(QStringLiteral("iopanel: ") + recordError);
    StderrLog::finish(closeWaitMs);
    return exitCode;
}
