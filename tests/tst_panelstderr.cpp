// The iopanel program with its standard error on a pipe whose reader stops
// reading, as a pager at its prompt does: the panel polls on and closes at
// once.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "panelprocess.h"
#include "processoutput.h"

class TestPanelStderr : public QObject
{
    Q_OBJECT

private slots:
    void stalledReaderFreezesNothing();
};

void TestPanelStderr::stalledReaderFreezesNothing()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("module"));
    QProcess sim;
    ProcessOutput simOutput(sim);
    QVERIFY(!startSimulator(sim, simOutput, {QStringLiteral("--link"), link}).isEmpty());

    // The reader shrinks its pipe to one page and never reads; every debug
    // line is 2 kB long, so the pipe is full within the first second.
    QProcess reader;
    reader.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import fcntl, time; fcntl.fcntl(0, 1031, 4096); time.sleep(120)")});
    QProcess panel;
    QProcessEnvironment environment = headless(dir.path());
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"),
                       QString(2000, u'x') + QStringLiteral("%{message}"));
    panel.setProcessEnvironment(environment);
    panel.setProcessChannelMode(QProcess::MergedChannels);
    panel.setStandardOutputProcess(&reader);
    panel.start(QStringLiteral(IOPANEL_PROGRAM),
                {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--port"), link});
    QVERIFY2(panel.waitForStarted(5000), qPrintable(panel.errorString()));
    QTest::qWait(3000);

    // Ten frames a second reach the module while the reader sleeps.
    const QRegularExpression frameLine(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~"));
    sim.readAllStandardOutput();
    simOutput.clear();
    int frames = 0;
    QElapsedTimer clock;
    clock.start();
    while (!clock.hasExpired(3000))
        frames += simOutput.waitForLine(frameLine, 100).isEmpty() ? 0 : 1;
    QVERIFY2(frames >= 15, qPrintable(QString::number(frames)));

    const qint64 panelPid = panel.processId();
    clock.restart();
    panel.terminate();
    QVERIFY(panel.waitForFinished(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 0);
    QCOMPARE(lockFilesOf(panelPid), QStringList());
    stop(reader);
    stop(sim);
}

QTEST_GUILESS_MAIN(TestPanelStderr)
#include "tst_panelstderr.moc"
