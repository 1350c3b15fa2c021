// The panel program (iopanel, as built) idle on the broker, beside the same
// program polling a stand-in of its own, over the same seconds: each started
// with --no-remember, offscreen, its home and configuration in a temporary
// folder, and with a record file that tells when it has drawn its first
// inputs report.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include "panelidle.h"
#include "ptymodule.h"
#include "sidebyside.h"

namespace {
constexpr int idleWarmUpMs = 1000;
constexpr int panelStartMs = 10000;

class PanelProgram
{
public:
    PanelProgram(const QTemporaryDir &home, const QString &name)
        : record(home.filePath(name + QStringLiteral(".csv")))
        , errors(home.filePath(name + QStringLiteral(".err")))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(errors);
    }
    ~PanelProgram() { SideBySide::stop(process); }

    void start(const QStringList &arguments)
    {
        process.start(QStringLiteral(IOPANEL),
                      QStringList{QStringLiteral("--no-remember"), QStringLiteral("--record"), record}
                          + arguments);
        process.waitForStarted(5000);
    }
    // Input 6 is in the record once the window has drawn its lamp.
    bool hasDrawnInputs() const
    {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(",input,6,");
    }
    // Still running: it has not ended, or become a zombie, since it started.
    bool running() { return process.state() == QProcess::Running && !process.waitForFinished(0); }
    QString why(const QString &what) const
    {
        QFile file(errors);
        const QByteArray said = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().right(300) : "";
        return said.isEmpty() ? what
                              : what + QStringLiteral("; its stderr ends: ") + QString::fromLocal8Bit(said);
    }

    QProcess process;

private:
    QString record;
    QString errors;
};
} // namespace

IdlePanels measureIdlePanels(int brokerPort, const QString &topic, int seconds)
{
    IdlePanels result;
    QTemporaryDir home;
    PtyModule polled;
    PanelProgram onBroker(home, QStringLiteral("broker"));
    PanelProgram polling(home, QStringLiteral("port"));
    onBroker.start({"--broker", QStringLiteral("127.0.0.1:%1").arg(brokerPort), "--topic", topic,
                    "--client-id", "iopanel-bench-idle"});
    polling.start({"--port", polled.portName()});

    const QDeadlineTimer deadline(panelStartMs);
    while (!(onBroker.hasDrawnInputs() && polling.hasDrawnInputs()) && !deadline.hasExpired()
           && onBroker.running() && polling.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (PanelProgram *panel : {&onBroker, &polling}) {
        if (!panel->hasDrawnInputs()) {
            result.error =
                panel->why(panel == &onBroker ? QStringLiteral("the panel on the broker drew no inputs")
                                              : QStringLiteral("the polling panel drew no inputs"));
            return result;
        }
    }

    const size_t framesBefore = size_t(polled.frames().size());
    const std::vector<double> cpu =
        SideBySide::cpuOver({&onBroker.process, &polling.process}, seconds, idleWarmUpMs);
    result.polls = polled.frames().size() - int(framesBefore);
    if (!onBroker.running() || !polling.running() || cpu[0] < 0 || cpu[1] < 0) {
        result.error = QStringLiteral("a panel ended or could not be measured");
        return result;
    }
    if (result.polls == 0) {
        result.error = QStringLiteral("the polling panel polled nothing");
        return result;
    }
    result.brokerCpu = cpu[0];
    result.pollingCpu = cpu[1];
    return result;
}
