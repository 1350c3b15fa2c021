// The iopanel program's standard error: on a pipe whose reader stops
// reading, as a pager at its prompt does, the panel polls on and closes at
// once; and a start that fails tells why before Qt's fatal message.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "processtesting.h"

class TestPanelStderr : public QObject
{
    Q_OBJECT

private slots:
    void stalledReaderFreezesNothing()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        QProcess sim;
        ProcessOutput simOutput(sim);
        QVERIFY(!startSimulator(sim, simOutput, {"--link", link}).isEmpty());

        // A debug line for each reply, into a pipe that is full from the start.
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        const int reader = fullFifo(fifo); // never reads
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        QProcess panel;
        QProcessEnvironment environment = headless(dir.path());
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
        panel.setProcessEnvironment(environment);
        panel.setProcessChannelMode(QProcess::MergedChannels);
        panel.setStandardOutputFile(fifo);
        panel.start(QStringLiteral(IOPANEL), {"-platform", "offscreen", "--port", link});
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
        stop(sim);
    }

    // A platform plugin that can't be found: Qt's warning that names it is
    // queued for standard error, then Qt's fatal message ends the program. The
    // warning comes first, every time.
    void causeOfAFailedStartComesFirst()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = headless(home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("nosuch"));
        for (int run = 0; run < 20; ++run) {
            QProcess panel;
            panel.setProcessEnvironment(environment);
            panel.start(QStringLiteral(IOPANEL), {"--no-remember", "--port", "/nonexistent"});
            QVERIFY(panel.waitForFinished(10000));
            const QString printed = QString::fromLocal8Bit(panel.readAllStandardError());
            const int cause =
                printed.indexOf(QStringLiteral("Could not find the Qt platform plugin \"nosuch\""));
            const int fatal = printed.indexOf(QStringLiteral("This application failed to start"));
            QVERIFY2(cause >= 0 && cause < fatal,
                     qPrintable(QStringLiteral("run %1:\n%2").arg(run).arg(printed)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPanelStderr)
#include "tst_panelstderr.moc"
