// iomodule-sim: serves the simulated I/O module on a pseudo-terminal or a
// serial port, prints what the panel sends and lets the operator switch inputs.
#include <QCoreApplication>

#include <cstdio>
#include <memory>

#include "consoleinput.h"
#include "framelog.h"
#include "portlink.h"
#include "ptysim.h"
#include "quitonsignals.h"
#include "serialsim.h"
#include "simoptions.h"

namespace {

QString helpText(bool keys)
{
    return keys
        ? QStringLiteral("Keys: 6 7 8 9 toggle inputs 6..9, 0 toggles input 10, q or Ctrl-C quits.")
        : QStringLiteral("Commands, one a line: 6 on | 10 off | toggle 7 | 7 | inputs 10101 | help | quit");
}

std::unique_ptr<SimModule> openModule(const SimOptions &options, QString &error)
{
    if (options.port.isEmpty()) {
        auto module = std::make_unique<PtySim>();
        if (module->portName().isEmpty()) {
            error = QStringLiteral("can't open a pseudo-terminal");
            return nullptr;
        }
        if (options.chaos)
            module->startChaos(options.chaosSeed, options.chaosRepeat);
        return module;
    }
    auto module = std::make_unique<SerialSim>();
    if (!module->open(options.port, error))
        return nullptr;
    return module;
}

void announce(const SimModule &module, const SimOptions &options, const QByteArray &firmware)
{
    if (options.port.isEmpty()) {
        printLine(QStringLiteral("Module simulator on %1").arg(module.portName()));
        const QString path = options.link.isEmpty() ? module.portName() : options.link;
        printLine(QStringLiteral("Start the panel on it with:  iopanel --port %1").arg(path));
    } else {
        printLine(QStringLiteral("Module simulator on %1 (9600 baud, 8N1, no flow control)")
                      .arg(module.portName()));
        printLine(QStringLiteral("  (pick the port at the other end of the cable in the panel)"));
    }
    printLine(QStringLiteral("Firmware %1, inputs 6..10: %2%3")
                  .arg(QString::fromUtf8(firmware), module.inputsText(),
                       options.silentOutputs ? QStringLiteral(", output frames unanswered") : QString()));
    if (options.chaos)
        printLine(QStringLiteral("Chaos mode, seed %1: random replies instead of the module's own%2")
                      .arg(options.chaosSeed)
                      .arg(options.chaosRepeat
                               ? QStringLiteral(", the same %1 events over and over").arg(options.chaosRepeat)
                               : QString()));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iomodule-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IOPANEL_VERSION));

    SimOptions options;
    QString error;
    if (!parseSimOptions(app, options, error)) {
        std::fprintf(stderr, "iomodule-sim: %s\n", qPrintable(error));
        return 2;
    }
    const std::unique_ptr<SimModule> module = openModule(options, error);
    if (!module) {
        std::fprintf(stderr, "iomodule-sim: %s\n", qPrintable(error));
        return 1;
    }
    module->setFirmwareVersion(options.firmware);
    module->setInputs(options.inputs);
    module->setAnswersOutputs(!options.silentOutputs);

    // The link follows the pseudo-terminal if it is replaced.
    std::unique_ptr<PortLink> link;
    if (!options.link.isEmpty()) {
        link = std::make_unique<PortLink>(options.link);
        if (!link->pointAt(module->portName(), error)) {
            std::fprintf(stderr, "iomodule-sim: %s\n", qPrintable(error));
            return 1;
        }
        QObject::connect(module.get(), &SimModule::portChanged, &app, [&link](const QString &portName) {
            QString error;
            if (!link->pointAt(portName, error))
                printLine(error);
        });
    }

    // Frames may come from PtyModule's thread: &app makes the printing queued
    // onto this one.
    QObject::connect(module.get(), &SimModule::frameReceived, &app,
                     [](const QByteArray &bytes, const QString &outputs, const QString &inputs) {
                         printLine(frameLine(bytes, outputs, inputs));
                     });
    QObject::connect(module.get(), &SimModule::noted, &app,
                     [](const QString &text) { printLine(eventLine(text)); });
    QObject::connect(module.get(), &SimModule::lineLost, &app, [](const QString &reason) {
        printLine(QStringLiteral("Line lost (%1); stopping.").arg(reason));
        QCoreApplication::exit(1);
    });

    // Declared before the console so that it goes after it: the terminal is
    // restored while the signals still only ask to quit.
    QuitOnSignals quitOnSignals;
    ConsoleInput console;
    QObject::connect(&console, &ConsoleInput::command, &app, [&](const InputCommand &command) {
        switch (command.kind) {
        case InputCommand::None:
            return;
        case InputCommand::Invalid:
            printLine(command.text);
            return;
        case InputCommand::Help:
            printLine(helpText(console.isTerminal()));
            return;
        case InputCommand::Quit:
            QCoreApplication::quit();
            return;
        case InputCommand::Set:
            module->setInput(command.channel, command.on);
            break;
        case InputCommand::Toggle:
            module->setInput(command.channel, !module->input(command.channel));
            break;
        case InputCommand::SetAll:
            module->setInputs(command.text);
            break;
        }
        printLine(inputsLine(module->inputsText()));
    });
    QObject::connect(&console, &ConsoleInput::ended, &app, [] {
        printLine(QStringLiteral("Standard input closed; serving until Ctrl-C or SIGTERM."));
    });

    announce(*module, options, options.firmware);
    printLine(helpText(console.isTerminal()));
    return app.exec();
}
