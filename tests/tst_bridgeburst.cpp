// iopanel-mqtt under a burst of commands that the module leaves unanswered.
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cmath>

#include "brokerprocess.h"

namespace {
// Not near a multiple of a command's 50 ms, so held-up polls show.
constexpr int intervalMs = 125;

// Built, as the bridge it runs, with AddressSanitizer or ThreadSanitizer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool underSanitizer = true;
#elif defined(__has_feature)
constexpr bool underSanitizer = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool underSanitizer = false;
#endif

// A field of /proc/PID/status in kB (VmRSS, VmHWM); -1 if the process is gone.
int memoryKb(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB$").arg(QLatin1String(field)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toInt();
}

// A time on the grid that polls made while no command waits keep.
qint64 pollGridUs(const QList<PtyModule::Frame> &frames)
{
    qint64 grid = -1;
    for (const PtyModule::Frame &frame : frames) {
        if (grid < 0)
            grid = frame.receivedUs;
        const qint64 past = (frame.receivedUs - grid) % (intervalMs * 1000);
        if (past > intervalMs * 500) // earlier on the grid than any before it
            grid = frame.receivedUs;
    }
    return grid;
}
} // namespace

class TestBridgeBurst : public QObject
{
    Q_OBJECT

private slots:
    void init() { skipWithoutBroker(); }
    void cleanup() { stopBridges(this); }

    // 20,000 commands hold up neither input changes nor polls (whose lateness only their
    // times show); memory stays bounded, and SIGTERM names the few taken and not sent.
    void burstHoldsUpNothing()
    {
        PtyModule module;
        module.setAnswersOutputs(false);
        Broker broker;
        QVERIFY(broker.start());
        Subscriber inputs(broker, base + "/inputs");
        QProcess *bridge =
            startBridge(this, broker, module.portName(), {"--interval", QString::number(intervalMs)});
        QVERIFY(inputs.find(inputsPattern.arg(".*")) >= 0);
        QTest::qWait(1000);
        const qint64 grid = pollGridUs(module.frames());
        const int memoryBefore = memoryKb(bridge->processId(), "VmRSS");
        QProcess dashboard;
        dashboard.start(QStringLiteral("mosquitto_pub"),
                        {"-p", QString::number(broker.port), "-q", "1", "-t", base + "/set", "-l"});
        dashboard.write(QByteArray("set 3\n").repeated(20000));
        dashboard.closeWriteChannel();
        QVERIFY(dashboard.waitForFinished(30000)); // all of them with the broker
        QTRY_VERIFY(commandsReceived(module).size() >= 10);
        module.clearFrames();

        QList<qint64> latencies;
        for (int k = 0; k < 40; ++k) {
            const int before = inputs.lines.size();
            QElapsedTimer sinceChange;
            sinceChange.start();
            module.setInput(8, k % 2 == 0);
            QVERIFY(inputs.find(inputsPattern.arg(k % 2 ? ".*\"8\":false.*" : ".*\"8\":true.*"), before)
                    >= 0);
            latencies << sinceChange.elapsed();
            QTest::qWait(QRandomGenerator::global()->bounded(intervalMs)); // any time in the poll's cycle
        }
        std::sort(latencies.begin(), latencies.end());
        const qint64 p99 = latencies[int(std::ceil(latencies.size() * 0.99)) - 1];
        QVERIFY2(p99 < intervalMs + 60 + 240, qPrintable(QString::number(p99)));
        // Late: 5 to 55 ms past their time; a poll made early is 60 ms early at most.
        int polls = 0;
        int late = 0;
        for (const PtyModule::Frame &frame : module.frames()) {
            if (frame.bytes == "~A") {
                const qint64 phaseMs = (frame.receivedUs - grid) % (intervalMs * 1000) / 1000;
                ++polls;
                late += phaseMs > 5 && phaseMs <= 55;
            }
        }
        QVERIFY2(polls >= 30 && late * 2 < polls,
                 qPrintable(QStringLiteral("%1 of %2").arg(late).arg(polls)));

        // Under a sanitizer, which keeps memory of its own, the unsent count tells the bound.
        const int growth = memoryKb(bridge->processId(), "VmHWM") - memoryBefore;
        if (!underSanitizer)
            QVERIFY2(growth < 1024, qPrintable(QStringLiteral("%1 kB").arg(growth)));
        QElapsedTimer sinceTerm;
        sinceTerm.start();
        bridge->terminate();
        QVERIFY(bridge->waitForFinished(5000));
        QVERIFY2(sinceTerm.elapsed() < 1500, qPrintable(QString::number(sinceTerm.elapsed())));
        QCOMPARE(bridge->exitCode(), 0);
        const QString unsent =
            QRegularExpression(QStringLiteral("^iopanel-mqtt: (\\d+) command\\(s\\) taken from bench/m1/set "
                                              "not sent: stopping$"),
                               QRegularExpression::MultilineOption)
                .match(QString::fromLocal8Bit(bridge->readAllStandardError()))
                .captured(1);
        QVERIFY2(unsent.toInt() > 0 && unsent.toInt() <= 100, qPrintable(unsent));
    }
};

QTEST_MAIN(TestBridgeBurst)
#include "tst_bridgeburst.moc"
