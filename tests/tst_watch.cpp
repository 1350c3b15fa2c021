// iopanelctl watch and serve as they run for hours: what they print and
// when, and how they end: a signal, a reader gone, a reader that stops
// reading.
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "processtesting.h"

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    // A shell runs background jobs with SIGINT ignored, and children inherit
    // that: iopanelctl would keep it ignored, as it should.
    void initTestCase() { std::signal(SIGINT, SIG_DFL); }

    // The first state, a change within two intervals, one line each when the
    // module falls silent and when it is back, and status 0 on SIGTERM and on a
    // closed pipe, noticed at once whatever the interval (JSON lines there).
    void changesSilenceAndEnd()
    {
        PtyModule module;
        module.setInput(10, true);
        const int intervalMs = 250;
        QProcess ctl;
        ProcessOutput lines(ctl);
        ctl.start(QStringLiteral(IOPANELCTL),
                  {"--port", module.portName(), "watch", "--interval", QString::number(intervalMs)});
        QVERIFY(!lines.waitForLine(QStringLiteral("^%1  6=0 7=0 8=0 9=0 10=1$").arg(isoTime)).isEmpty());

        QElapsedTimer sinceChange;
        sinceChange.start();
        module.setInput(7, true);
        QVERIFY(!lines.waitForLine(QStringLiteral("  6=0 7=1 8=0 9=0 10=1$")).isEmpty());
        QVERIFY2(sinceChange.elapsed() < 2 * intervalMs, qPrintable(QString::number(sinceChange.elapsed())));

        module.setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
        QTest::qWait(4 * intervalMs);
        module.setResponder({});
        QTest::qWait(2 * intervalMs);
        QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardError()),
                 QStringLiteral("iopanelctl: no reply from %1 within 50 ms; watching on\n"
                                "iopanelctl: %1 answers again\n")
                     .arg(module.portName()));
        ctl.terminate();
        QVERIFY(ctl.waitForFinished(5000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
        QCOMPARE(ctl.readAllStandardOutput(), QByteArray()); // no line for an unchanged state

        // serve's input (this test's pipe) stays open: only the reader's going ends it.
        for (const char *command : {"watch", "serve"}) {
            QProcess pipeline;
            pipeline.start("bash",
                           {"-c",
                            QStringLiteral("'%1' --port '%2' %3 --json --interval 3600000 | "
                                           "head -n 1; echo $PIPESTATUS >&2")
                                .arg(IOPANELCTL, module.portName(), command)});
            QVERIFY2(pipeline.waitForFinished(5000), command);
            QVERIFY(
                QString::fromLatin1(pipeline.readAllStandardOutput())
                    .contains(QRegularExpression(QStringLiteral("^\\{\"time\":\"%1\",\"6\":false,\"7\":true,"
                                                                "\"8\":false,\"9\":false,\"10\":true\\}\\n$")
                                                     .arg(isoTime))));
            QCOMPARE(pipeline.readAllStandardError(), QByteArray("0\n"));
        }
    }

    void signalsEndItWhateverTheReader_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("errorStalled"); // standard error's reader stalls; else standard output's
        QTest::newRow("watch, SIGTERM, output stalled") << QStringLiteral("watch") << int(SIGTERM) << false;
        QTest::newRow("serve, SIGINT, output stalled") << QStringLiteral("serve") << int(SIGINT) << false;
        QTest::newRow("watch, SIGHUP, error stalled") << QStringLiteral("watch") << int(SIGHUP) << true;
        QTest::newRow("serve, SIGTERM, error stalled") << QStringLiteral("serve") << int(SIGTERM) << true;
    }

    // Lines keep coming (an input that changes at every poll, or a module that
    // falls silent), the reader never reads: a signal ends the program within a
    // second all the same, with status 0.
    void signalsEndItWhateverTheReader()
    {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QFETCH(bool, errorStalled);

        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        const int reader = fullFifo(fifo); // never reads
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });

        PtyModule module;
        module.setResponder([&module, errorStalled](const QByteArray &frame) {
            if (errorStalled)
                return PtyModule::Reply{};
            module.setInput(6, !module.input(6));
            return PtyModule::Reply{{0, module.defaultReply(frame)}};
        });
        QProcess ctl;
        errorStalled ? ctl.setStandardErrorFile(fifo) : ctl.setStandardOutputFile(fifo);
        ctl.start(QStringLiteral(IOPANELCTL), {"--port", module.portName(), command, "--interval", "20"});
        QTest::qWait(1000);

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::kill(static_cast<pid_t>(ctl.processId()), signal), 0);
        QVERIFY2(ctl.waitForFinished(5000) && clock.elapsed() < 2000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
    }
};

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
