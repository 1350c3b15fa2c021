// End-to-end test of iomodule-sim in line-command mode: it serves a pty,
// answers the frames sent to it, takes input commands on standard input and
// prints each frame it receives.
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

class TestIomoduleSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answersFramesAndTakesCommands();

private:
    QString waitForLine(const QRegularExpression &pattern); // the first matching line, or empty
    QByteArray exchange(const QByteArray &frame, int replySize);

    QProcess sim;
    QSerialPort port;
    QByteArray printed; // standard output not yet searched
};

void TestIomoduleSim::init()
{
    printed.clear();
    // What the simulator says on standard error (a warning, a sanitizer
    // report) shows in the test's own output.
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(IOMODULE_SIM), {QStringLiteral("--inputs"), QStringLiteral("00100")});
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
}

void TestIomoduleSim::cleanup()
{
    port.close();
    if (sim.state() != QProcess::NotRunning) {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished(5000);
    }
}

QString TestIomoduleSim::waitForLine(const QRegularExpression &pattern)
{
    QElapsedTimer timer;
    timer.start();
    while (!timer.hasExpired(5000)) {
        printed += sim.readAllStandardOutput();
        int end;
        while ((end = printed.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(printed.left(end));
            printed.remove(0, end + 1);
            if (pattern.match(line).hasMatch())
                return line;
        }
        sim.waitForReadyRead(50);
    }
    return {};
}

QByteArray TestIomoduleSim::exchange(const QByteArray &frame, int replySize)
{
    if (port.write(frame) != frame.size() || !port.waitForBytesWritten(1000))
        return {};
    QElapsedTimer timer;
    timer.start();
    QByteArray reply;
    while (reply.size() < replySize && !timer.hasExpired(3000)) {
        port.waitForReadyRead(50);
        reply += port.readAll();
    }
    return reply;
}

void TestIomoduleSim::answersFramesAndTakesCommands()
{
    const QRegularExpression announced(QStringLiteral("^Module simulator on (/\\S+)$"));
    const QString first = waitForLine(announced);
    QVERIFY(!first.isEmpty());
    port.setPortName(announced.match(first).captured(1));
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    QCOMPARE(exchange("~A", 7), QByteArray("~A00100"));
    QVERIFY(
        !waitForLine(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~A  "))).isEmpty());

    // The command is taken once the simulator has printed the new inputs.
    sim.write("6 on\n");
    QVERIFY(!waitForLine(QRegularExpression(QStringLiteral("  inputs 6..10: 10100$"))).isEmpty());
    QCOMPARE(exchange("~A", 7), QByteArray("~A10100"));

    // "~P" is applied, not answered: the next bytes are the reply to "~A".
    QVERIFY(port.write("~P10001") == 7 && port.waitForBytesWritten(1000));
    const QString line = waitForLine(QRegularExpression(QStringLiteral("~P10001")));
    QVERIFY2(
        QRegularExpression(
            QStringLiteral(
                "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~P10001  outputs 1\\.\\.5: 10001  inputs 6\\.\\.10: 10100$"))
            .match(line)
            .hasMatch(),
        qPrintable(line));

    QCOMPARE(exchange("~A", 7), QByteArray("~A10100"));

    sim.write("7 maybe\n");
    QVERIFY(!waitForLine(QRegularExpression(QStringLiteral("^not understood: '7 maybe'"))).isEmpty());
    sim.write("quit\n");
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestIomoduleSim)
#include "tst_iomodulesim.moc"
