// iopanel-screenshot: builds the panel's window on a simulated module's
// pseudo-terminal (its own, or iomodule-sim's given by --port), ticks output
// boxes, waits until the lamps show the inputs and saves the window as PNG.
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "highdpi.h"
#include "ptymodule.h"
#include "windowtesting.h"

namespace {

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool isBits(const QString &text)
{
    return QRegularExpression(QStringLiteral("^[01]{5}$")).match(text).hasMatch();
}

int fail(const QString &message)
{
    std::fprintf(stderr, "iopanel-screenshot: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Headless unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    followDesktopScale();
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows the panel headless against a simulated module, ticks output boxes,\n"
                       "waits until the lamps show the module's inputs and saves the window as PNG.\n"
                       "Without --port it serves its own simulated module on a pseudo-terminal."));
    parser.addHelpOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Use the simulated module at <path> (e.g. the pty iomodule-sim printed); "
                       "--inputs then names the lamps to wait for, if given."),
        QStringLiteral("path"));
    const QCommandLineOption inputs(
        QStringLiteral("inputs"),
        QStringLiteral("Inputs 6..10 of the module, five digits 0 or 1 (default 10110)."),
        QStringLiteral("bits"), QStringLiteral("10110"));
    const QCommandLineOption outputs(
        QStringLiteral("outputs"),
        QStringLiteral("Output boxes 1..5 to tick, five digits 0 or 1 (default 10100)."),
        QStringLiteral("bits"), QStringLiteral("10100"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("PNG file to write (default screenshot.png)."),
                                    QStringLiteral("file"), QStringLiteral("screenshot.png"));
    parser.addOptions({port, inputs, outputs, output});
    parser.process(app);

    const QString wantedInputs = parser.value(inputs);
    const QString wantedOutputs = parser.value(outputs);
    if (!isBits(wantedInputs) || !isBits(wantedOutputs))
        return fail(QStringLiteral("--inputs and --outputs take five digits 0 or 1"));
    const bool ownModule = !parser.isSet(port);
    const bool checkInputs = ownModule || parser.isSet(inputs);

    std::unique_ptr<PtyModule> module;
    QString portName = parser.value(port);
    if (ownModule) {
        module = std::make_unique<PtyModule>();
        // Like iomodule-sim, a healthy module that answers every frame.
        module->setAnswersOutputs(true);
        for (int i = 0; i < 5; ++i)
            module->setInput(6 + i, wantedInputs.at(i) == QLatin1Char('1'));
        portName = module->portName();
        if (portName.isEmpty())
            return fail(QStringLiteral("can't open a pseudo-terminal"));
    }

    // The port list names only the simulator before the first poll tick.
    const auto window = windowOn(portName);
    for (int i = 0; i < 5; ++i) {
        auto *box = window->findChild<QCheckBox *>(QStringLiteral("checkBox_%1").arg(i + 1));
        box->setChecked(wantedOutputs.at(i) == QLatin1Char('1'));
    }
    window->show();

    // Ready when the lamps show the inputs and the module has the outputs,
    // three checks in a row, so the picture is settled. The status bar is
    // taken as it is: a module that doesn't answer "~P" (iomodule-sim
    // --silent-outputs) keeps a read timeout on show.
    const auto ready = [&] {
        const QString shown = lamps(*window);
        return !shown.contains(QLatin1Char('.')) && (!checkInputs || shown == wantedInputs)
            && (!module || module->outputs() == wantedOutputs);
    };
    QElapsedTimer clock;
    clock.start();
    for (int settled = 0; settled < 3;) {
        if (clock.hasExpired(10000))
            return fail(QStringLiteral("the panel did not settle on %1: lamps %2, status '%3'")
                            .arg(portName, lamps(*window), window->statusBar()->currentMessage()));
        pause(50);
        settled = ready() ? settled + 1 : 0;
    }

    const QString file = parser.value(output);
    if (!window->grab().save(file, "PNG"))
        return fail(QStringLiteral("can't write %1").arg(file));
    std::printf("Saved %s: port %s, outputs 1..5 ticked %s, lamps 6..10 %s\n", qPrintable(file),
                qPrintable(portName), qPrintable(wantedOutputs), qPrintable(lamps(*window)));
    return 0;
}
