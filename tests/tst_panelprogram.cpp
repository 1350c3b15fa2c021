// The iopanel program as operators start it: its command line, the real
// panel polling the real iomodule-sim on the link given by --port, with its
// record and its output on pipes, and the port it remembers from one start to
// the next.
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "processtesting.h"

namespace {
// Runs a program where the machine's serial devices can't be reached: in a
// private mount namespace whose /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM*
// are /dev/null. For a panel started without --port, which would otherwise
// poll the first listed port (here the console, /dev/ttyS0).
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

        const auto args = [](const QString &line) { return line.split(QLatin1Char(' ')); };
        const QString help = QStringLiteral("^Usage: \\S*iopanel \\[options\\]\\n(.|\\n)*--port <path>");
        const QString none = QStringLiteral("^$");
        const QString hint = QStringLiteral("\\nTry 'iopanel --help' for more information\\.\\n$");
        const QString noDisplay = QStringLiteral("^iopanel: no display found");
        QTest::newRow("--help") << args("--help") << 0 << help << none;
        QTest::newRow("-h, with a port") << args("--port /x -h") << 0 << help << none;
        QTest::newRow("--version") << args("--version") << 0
                                   << QStringLiteral("^iopanel \\d+\\.\\d+\\.\\d+\\n$") << none;
        QTest::newRow("unknown option")
            << args("--bogus") << 2 << none << QStringLiteral("^iopanel: Unknown option 'bogus'\\.") + hint;
        QTest::newRow("unknown option after a Qt one")
            << args("-style fusion -x") << 2 << none << QStringLiteral("Unknown option 'x'\\.") + hint;
        QTest::newRow("--port without a path")
            << args("--port") << 2 << none << QStringLiteral("Missing value after '--port'\\.") + hint;
        QTest::newRow("stray argument")
            << args("ttyUSB0") << 2 << none << QStringLiteral("unexpected argument 'ttyUSB0'\\.") + hint;
        // A record file is opened once the panel can start, without waiting.
        const QString record = QStringLiteral("-platform offscreen --record ");
        QTest::newRow("record file that can't be opened")
            << args(record + "/nonexistent/record.csv") << 2 << none
            << QStringLiteral("iopanel: can't record to /nonexistent/record\\.csv: ");
        const QString fifo = home.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QTest::newRow("record to a FIFO that no program reads")
            << args(record + fifo) << 2 << none
            << QStringLiteral("\\niopanel: can't record to .*fifo: no program reads from this FIFO\\n$");
        // Another user's link in a folder others write to may lead anywhere.
        const QString planted = home.filePath(QStringLiteral("planted.csv"));
        QCOMPARE(::symlink(".profile", QFile::encodeName(planted).constData()), 0);
        if (::lchown(QFile::encodeName(planted).constData(), 65534, 65534) == 0)
            QTest::newRow("record through another user's link")
                << args(record + planted) << 2 << none
                << QStringLiteral(
                       "(^|\\n)iopanel: can't record to %1: the symbolic link %1 belongs to user nobody, "
                       "not to you or root\\n$")
                       .arg(QRegularExpression::escape(planted));
        // Without a display the panel says so, whatever else it is given; Qt
        // takes no "-platform=name", so neither does the display check.
        QTest::newRow("a record file, no display") << args("--record new.csv") << 1 << none << noDisplay;
        QTest::newRow("a port, no display") << args("--port /x") << 1 << none << noDisplay;
        QTest::newRow("-platform=offscreen")
            << args("-platform=offscreen --port /x") << 1 << none << noDisplay;
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
        // A refused start leaves nothing behind.
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

    // The panel polls on, at close saves the port and removes its lock, and its
    // record holds what happened, after the torn last row of an earlier run.
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

        // Qt's own -platform option, in its two-dash form, reaches the
        // application object.
        QProcess panel;
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
        // Watch which devices the panel opens while it polls, until the
        // simulator has seen a dozen frames.
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
        // SIGTERM ends it as closing the window does: port closed, lock released.
        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        stop(sim);
        // Its standard error holds one debug line per reply, and a sanitizer's
        // report when one stopped it.
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

        // Rows as lines, without their times.
        const auto rowsOf = [](const QByteArray &text) {
            QStringList rows = QString::fromUtf8(text).split(u'\n');
            for (QString &row : rows)
                row.remove(QRegularExpression(QLatin1Char('^') + isoTime));
            return rows;
        };
        // A slow machine may send an output frame, and time out on it, before
        // the first report, so rows are matched by kind, not by position.
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
        // The torn row stays alone, then come the first report's rows
        // (tst_recordfile checks all the kinds of rows) and time-outs.
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

        // Each start must poll the link (the simulator sees a query) and close
        // cleanly. The frames of the start before are read and passed over first.
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
        // Without --port it polls the saved link, or, should remembering fail,
        // the first listed port: so it runs where no serial device can be reached.
        if (QProcess::execute(withoutSerialDevices.first(), withoutSerialDevices.mid(1) << "true") != 0)
            QSKIP("unshare -m (as root) is needed to keep the machine's serial devices out of the panel's "
                  "reach");
        QVERIFY(start({}, withoutSerialDevices));
        stop(sim);
    }

private:
    QTemporaryDir home;
};

QTEST_GUILESS_MAIN(TestPanelProgram)
#include "tst_panelprogram.moc"
