// The iopanel program as operators start it, against the real iomodule-sim.
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "processtesting.h"

namespace {
// Runs a program in a mount namespace whose serial devices are /dev/null.
const QStringList withoutSerialDevices{"unshare",
                                       "-m",
                                       "sh",
                                       "-c",
                                       "for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do if [ -e \"$d\" ]; "
                                       "then mount --bind /dev/null \"$d\" || exit 97; fi; done; exec \"$@\"",
                                       "sh"};
} // namespace

class TestPanelProgram : public QObject
{
    Q_OBJECT

private slots:
    void commandLineWithoutDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // pattern for standard output
        QTest::addColumn<QString>("err"); // pattern for standard error

        const QString help = QStringLiteral("^Usage: \\S*iopanel \\[options\\]\\n(.|\\n)*--port <path>");
        const QString none = QStringLiteral("^$");
        const QString noDisplay = QStringLiteral("^iopanel: no display found");
        const auto row = [](const QString &arguments, int exitCode, const QString &out, const QString &err) {
            QTest::newRow(qPrintable(arguments)) << arguments.split(' ') << exitCode << out << err;
        };
        const auto refused = [&](const char *arguments, const char *err) {
            row(arguments, 2, none,
                err + QStringLiteral("\\nTry 'iopanel --help' for more information\\.\\n$"));
        };
        row("--help", 0, help, none);
        row("--port /x -h", 0, help, none);
        row("--version", 0, "^iopanel \\d+\\.\\d+\\.\\d+\\n$", none);
        refused("--bogus", "^iopanel: Unknown option 'bogus'\\.");
        refused("-style fusion -x", "Unknown option 'x'\\."); // after a Qt option
        refused("--port", "Missing value after '--port'\\.");
        refused("ttyUSB0", "unexpected argument 'ttyUSB0'\\.");
        const QString record = QStringLiteral("-platform offscreen --record ");
        row(record + "/nonexistent/record.csv", 2, none,
            "iopanel: can't record to /nonexistent/record\\.csv: ");
        const QString fifo = home.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        row(record + fifo, 2, none,
            "\\niopanel: can't record to .*fifo: no program reads from this FIFO\\n$");
        // Qt takes no "-platform=name", so neither does the display check.
        row("--record new.csv", 1, none, noDisplay);
        row("--port /x", 1, none, noDisplay);
        row("-platform=offscreen --port /x", 1, none, noDisplay);
    }

    void commandLineWithoutDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);

        QProcess panel;
        panel.setProcessEnvironment(headless(home.path()));
        QTemporaryDir workingDirectory;
        panel.setWorkingDirectory(workingDirectory.path());
        panel.start(QStringLiteral(IOPANEL), arguments);
        QVERIFY2(panel.waitForFinished(10000), "the panel did not exit");
        const QString stdOut = QString::fromLocal8Bit(panel.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(panel.readAllStandardError());
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), exitCode);
        QVERIFY2(QRegularExpression(out).match(stdOut).hasMatch(), qPrintable(stdOut));
        QVERIFY2(QRegularExpression(err).match(stdErr).hasMatch(), qPrintable(stdErr));
        QCOMPARE(QDir(workingDirectory.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

    void pollsAndRecords_data()
    {
        QTest::addColumn<QStringList>("reader"); // of the panel's standard output
        QTest::addColumn<QString>("record");     // "": a file, and standard error goes to the reader
        QTest::newRow("standard error on a pipe whose reader exits")
            << QStringList{"grep", "-m1", "~A"} << QString(); // iopanel 2>&1 | grep -m1 '~A'
        QTest::newRow("record on a pipe whose reader exits")
            << QStringList{"head", "-n", "3"}
            << QStringLiteral("/dev/stdout"); // iopanel --record /dev/stdout | head -n 3
    }

    // The panel polls on, saves the port and unlocks at close; its record follows a torn row.
    void pollsAndRecords()
    {
        QFETCH(QStringList, reader);
        QFETCH(QString, record);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        const QString recordFile = record.isEmpty() ? dir.filePath(QStringLiteral("record.csv")) : record;
        const QByteArray torn = "time,event,channel,state,text\n2026-12-07T19:39:19.677+00:00,input";
        QFile earlier(recordFile);
        if (record.isEmpty()) {
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write(torn) == torn.size());
            earlier.close();
        }
        QProcess sim;
        ProcessOutput simOutput(sim);
        // Output frames go unanswered: a time-out every other poll.
        const QString pty =
            startSimulator(sim, simOutput, {"--inputs", "10100", "--silent-outputs", "--link", link});
        QVERIFY(!pty.isEmpty());

        QProcess panel; // Qt's -platform, in its two-dash form, reaches Qt
        QProcess pipeReader;
        QProcessEnvironment environment = headless(dir.path());
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
        panel.setProcessEnvironment(environment);
        if (record.isEmpty())
            panel.setProcessChannelMode(QProcess::MergedChannels);
        panel.setStandardOutputProcess(&pipeReader);
        pipeReader.start(reader.first(), reader.mid(1));
        panel.start(QStringLiteral(IOPANEL),
                    {"--platform", "offscreen", "--port", link, "--record", recordFile});
        QVERIFY2(panel.waitForStarted(5000), qPrintable(panel.errorString()));
        const qint64 panelPid = panel.processId();
        int frames = 0;
        QStringList devicesSeen;
        const QRegularExpression frameLine(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  \\S+  outputs"));
        QElapsedTimer clock;
        clock.start();
        while (frames < 12 && !clock.hasExpired(20000) && panel.state() == QProcess::Running) {
            devicesSeen << openDevices(panel.processId());
            frames += simOutput.waitForLine(frameLine, 5).isEmpty() ? 0 : 1;
        }
        QCOMPARE(panel.state(), QProcess::Running);
        QVERIFY2(frames >= 12, qPrintable(QString::number(frames)));
        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        stop(sim);
        const QString log =
            record.isEmpty() ? QString() : QString::fromLocal8Bit(panel.readAllStandardError());
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QVERIFY2(panel.exitCode() == 0,
                 qPrintable(QStringLiteral("exit code %1:\n").arg(panel.exitCode()) + log.right(8000)));
        QCOMPARE(lockFilesOf(panelPid), QStringList());
        QCOMPARE(QSettings(dir.filePath(".config/iopanel/iopanel.conf"), QSettings::IniFormat)
                     .value("port")
                     .toString(),
                 link);
        devicesSeen.removeDuplicates();
        QVERIFY2(devicesSeen.isEmpty() || devicesSeen == QStringList{pty},
                 qPrintable(devicesSeen.join(u' ')));

        const auto rowsOf = [](const QByteArray &text) {
            QStringList rows = QString::fromUtf8(text).split(u'\n');
            for (QString &row : rows)
                row.remove(QRegularExpression(QLatin1Char('^') + isoTime));
            return rows;
        };
        // An output frame may time out before the first report: rows are matched by kind.
        const QRegularExpression timeout(
            QStringLiteral("^,status,,,\"Wait read response timeout [\\d:]{8}\"$"));
        const QRegularExpression wholeRow(QStringLiteral("^,(in|out)put,\\d+,o(n|ff),$|")
                                          + timeout.pattern());
        QTRY_COMPARE(pipeReader.state(), QProcess::NotRunning);
        const QStringList taken = rowsOf(pipeReader.readAllStandardOutput());
        if (!record.isEmpty()) {
            QCOMPARE(taken.size(), 4);
            QCOMPARE(taken.first(), QStringLiteral("time,event,channel,state,text"));
            QVERIFY2(wholeRow.match(taken.at(1)).hasMatch() && wholeRow.match(taken.at(2)).hasMatch(),
                     qPrintable(taken.join(u'\n')));
            return;
        }
        QCOMPARE(taken, QStringList({"\"~A10100\"", ""}));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        const QStringList rows = rowsOf(earlier.readAll());
        QCOMPARE(rows.mid(0, 2), QStringList({"time,event,channel,state,text", ",input"}));
        QVERIFY2(wholeRow.match(rows.value(2)).hasMatch() && rows.indexOf(",input,6,on,") > 1
                     && rows.indexOf(timeout) > 1,
                 qPrintable(rows.join(u'\n')));
    }

    void remembersThePortAcrossStarts()
    {
        QTemporaryDir startsHome;
        const QString link = startsHome.filePath(QStringLiteral("module"));
        QProcess sim;
        ProcessOutput simOutput(sim);
        QVERIFY(!startSimulator(sim, simOutput, {"--link", link}).isEmpty());
        const QString saved = startsHome.filePath(QStringLiteral(".config/iopanel/iopanel.conf"));

        // Each start must poll the link and close cleanly.
        const auto start = [&](const QStringList &arguments, const QStringList &prefix = {}) {
            sim.waitForReadyRead(300);
            sim.readAllStandardOutput();
            simOutput.clear();
            QProcess panel;
            panel.setProcessEnvironment(headless(startsHome.path()));
            const QStringList command = prefix + QStringList{IOPANEL, "-platform", "offscreen"} + arguments;
            panel.start(command.first(), command.mid(1));
            const bool polled = !simOutput.waitForLine(QRegularExpression("  ~A  outputs"), 10000).isEmpty();
            panel.terminate();
            return panel.waitForFinished(5000) && panel.exitCode() == 0 && polled;
        };
        QVERIFY(start({"--no-remember", "--port", link}));
        QVERIFY(!QFile::exists(saved));
        QVERIFY(start({"--port", link}));
        QCOMPARE(QSettings(saved, QSettings::IniFormat).value("port").toString(), link);
        // Without --port it polls the saved link; should that fail, no serial device is reached.
        if (QProcess::execute(withoutSerialDevices.first(), withoutSerialDevices.mid(1) << "true") != 0)
            QSKIP("unshare -m (as root) is needed to keep the machine's serial devices out of the panel's "
                  "reach");
        QVERIFY(start({}, withoutSerialDevices));
        stop(sim);
    }

    // Its standard error on a pipe whose reader stalls, as a pager's does.
    void stalledReaderFreezesNothing()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        QProcess sim;
        ProcessOutput simOutput(sim);
        QVERIFY(!startSimulator(sim, simOutput, {"--link", link}).isEmpty());

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

    // Qt's warning naming a missing platform plugin comes before its fatal message.
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

private:
    QTemporaryDir home;
};

QTEST_GUILESS_MAIN(TestPanelProgram)
#include "tst_panelprogram.moc"
