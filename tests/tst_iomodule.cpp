// The simulated module: the module logic that iomodule-sim and the tests'
// stand-in share (whose pty serving every panel test exercises); iomodule-sim
// end to end in line-command mode: it serves a pty, answers the frames sent to
// it (output frames too, unless told not to), takes input commands on
// standard input and prints each frame it receives; and its chaos mode's plan:
// a soak failure is only worth reporting if its seed brings the same events
// back, and split replies only test partial frames if their pieces come more
// than the panel's 20 ms of silence apart.
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <set>

#include "chaosplan.h"
#include "modulelogic.h"
#include "processtesting.h"

namespace {
QStringList chaosEvents(quint32 seed, int count)
{
    ChaosPlan plan(seed);
    QStringList described;
    for (int i = 0; i < count; ++i)
        described << ChaosPlan::describe(plan.next());
    return described;
}
} // namespace

class TestIomodule : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        port.close();
        stop(sim);
    }

    void logicFeed_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QString>("outputs");

        const QByteArray firmware = QByteArray("~IIOM-1.0") + QByteArray(9, '\0');
        QTest::newRow("inputs") << QByteArrayList{"~A"} << QByteArrayList{"~A"} << 1 << QByteArray("~A10010")
                                << "00000";
        QTest::newRow("firmware") << QByteArrayList{"~I"} << QByteArrayList{"~I"} << 1 << firmware << "00000";
        QTest::newRow("set all") << QByteArrayList{"~P10011"} << QByteArrayList{"~P10011"} << 1
                                 << QByteArray() << "10011";
        QTest::newRow("set, reset") << QByteArrayList{"~S2", "~S5", "~R2"}
                                    << QByteArrayList{"~S2", "~S5", "~R2"} << 3 << QByteArray() << "00001";
        QTest::newRow("split") << QByteArrayList{"~", "P1", "1", "000~", "A"}
                               << QByteArrayList{"~P11000", "~A"} << 2 << QByteArray("~A10010") << "11000";
        QTest::newRow("glued") << QByteArrayList{"~A~P00100~I"} << QByteArrayList{"~A", "~P00100", "~I"} << 3
                               << QByteArray("~A10010" + firmware) << "00100";
        QTest::newRow("garbage") << QByteArrayList{"xx~A\r\n~Q~S9~S3"}
                                 << QByteArrayList{"xx", "~A", "\r\n", "~Q", "~S9", "~S3"} << 2
                                 << QByteArray("~A10010") << "00100";
        QTest::newRow("broken frame")
            << QByteArrayList{"~P01", "2~~P10000"} << QByteArrayList{"~P012", "~", "~P10000"} << 1
            << QByteArray() << "10000";
    }

    void logicFeed()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, frames);
        QFETCH(QByteArray, replies);
        QFETCH(QString, outputs);

        ModuleLogic logic;
        logic.setInput(6, true);
        logic.setInput(9, true);
        QByteArrayList gotPieces;
        QByteArray gotReplies;
        int gotFrames = 0;
        for (const QByteArray &chunk : chunks) {
            for (const QByteArray &piece : logic.feed(chunk)) {
                gotPieces << piece;
                gotFrames += ModuleLogic::isFrame(piece);
                gotReplies += logic.answer(piece);
            }
        }
        QCOMPARE(gotPieces, pieces);
        QCOMPARE(gotFrames, frames);
        QCOMPARE(gotReplies, replies);
        QCOMPARE(logic.outputsText(), outputs);
    }

    // The serving thread stamps a delayed reply into its frame list while the
    // test holds (and modifies) a copy of that list taken before; under
    // ThreadSanitizer a copy that shared nodes with the module's list races.
    void framesCopyIsIndependent()
    {
        PtyModule module;
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{{50, "~A00000"}}; });
        QSerialPort line(module.portName()); // the panel's side
        QVERIFY(line.open(QIODevice::ReadWrite));
        QVERIFY(line.write("~A") == 2 && line.waitForBytesWritten(1000));
        QVERIFY(module.waitForFrames(1, 1000));
        QList<PtyModule::Frame> before = module.frames();
        before[0].repliedUs = -2; // a write to the copy only
        QTRY_VERIFY(line.waitForReadyRead(20) || line.bytesAvailable() >= 7);
        QCOMPARE(line.readAll(), QByteArray("~A00000"));
        QTRY_VERIFY(module.frames().at(0).repliedUs >= 0);
        QCOMPARE(before.at(0).repliedUs, qint64(-2));
    }

    void answersFramesAndTakesCommands_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("outputsAnswer");
        QTest::newRow("a healthy module") << QStringList() << QByteArray("~A10100");
        QTest::newRow("--silent-outputs") << QStringList{QStringLiteral("--silent-outputs")} << QByteArray();
    }

    void answersFramesAndTakesCommands()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, outputsAnswer);

        output.clear();
        const QString path = startSimulator(sim, output, QStringList{"--inputs", "00100"} + options);
        QVERIFY(!path.isEmpty());
        // It tells the operator how to start the panel on it.
        QVERIFY(!output.waitForLine("iopanel --port " + QRegularExpression::escape(path) + '$').isEmpty());
        port.setPortName(path);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

        QCOMPARE(exchange("~A", 7), QByteArray("~A00100"));
        QVERIFY(!output.waitForLine("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~A  ").isEmpty());

        // The command is taken once the simulator has printed the new inputs.
        sim.write("6 on\n");
        QVERIFY(!output.waitForLine("  inputs 6..10: 10100$").isEmpty());
        QCOMPARE(exchange("~A", 7), QByteArray("~A10100"));

        // "~P" is applied, and answered with the inputs unless output frames are
        // left unanswered; then the next bytes are the reply to "~A".
        QCOMPARE(exchange("~P10001", 7), outputsAnswer);
        QVERIFY(!output
                     .waitForLine("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~P10001  outputs 1\\.\\.5: 10001  inputs "
                                  "6\\.\\.10: 10100$")
                     .isEmpty());

        QCOMPARE(exchange("~A", 7), QByteArray("~A10100"));

        sim.write("7 maybe\n");
        QVERIFY(!output.waitForLine("^not understood: '7 maybe'").isEmpty());
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    void ignoredHangupStaysIgnored()
    {
        // Started as nohup starts it, with SIGHUP ignored: a hang-up leaves it
        // running, and SIGTERM still ends it cleanly.
        sim.start("/bin/sh", {"-c", "trap '' HUP; exec \"$0\"", IOMODULE_SIM});
        QVERIFY(!output.waitForLine("^Module simulator on ").isEmpty());
        ::kill(pid_t(sim.processId()), SIGHUP);
        QVERIFY(!sim.waitForFinished(300));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    // --link makes its link and removes it at exit, and nothing else: an
    // operator's file named as a temporary link might be stays, and so does a link
    // another program put in the path's place meanwhile.
    void linkTouchesOnlyItsOwnFiles()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        QFile operators(link + QStringLiteral(".new"));
        QVERIFY(operators.open(QIODevice::WriteOnly) && operators.write("mine") == 4);
        operators.close();
        for (const bool takenOver : {false, true}) {
            output.clear();
            const QString pty = startSimulator(sim, output, {"--link", link}); // the link is made
            QCOMPARE(QFile::symLinkTarget(link), pty);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 2);
            if (takenOver)
                QVERIFY(QFile::remove(link) && QFile::link(QStringLiteral("/dev/null"), link));
            stop(sim);
            QCOMPARE(QFile::symLinkTarget(link), takenOver ? QStringLiteral("/dev/null") : QString());
        }
        QVERIFY(operators.open(QIODevice::ReadOnly));
        QCOMPARE(operators.readAll(), QByteArray("mine"));
    }

    void chaosPlan()
    {
        QCOMPARE(chaosEvents(42, 500), chaosEvents(42, 500));
        QVERIFY(chaosEvents(42, 500) != chaosEvents(43, 500));

        ChaosPlan plan(7);
        std::set<ChaosPlan::Kind> seen;
        for (int i = 0; i < 5000; ++i) {
            const ChaosPlan::Event event = plan.next();
            seen.insert(event.kind);
            if (event.kind == ChaosPlan::Kind::Split) {
                QVERIFY(event.reply.size() >= 2);
                for (int k = 1; k < event.reply.size(); ++k)
                    QVERIFY2(event.reply.at(k).delayMs > 20, qPrintable(ChaosPlan::describe(event)));
            }
            if (event.kind == ChaosPlan::Kind::Flood || event.kind == ChaosPlan::Kind::LineLost) {
                QVERIFY(event.reply.isEmpty());
                QVERIFY(event.durationMs >= 500 && event.durationMs <= 5000);
            }
        }
        QCOMPARE(seen.size(), size_t(8));
    }

private:
    // Writes `frame` to the simulator's pty and reads up to `replySize` bytes
    // of its reply.
    QByteArray exchange(const QByteArray &frame, int replySize)
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

    QProcess sim;
    QSerialPort port;
    ProcessOutput output{sim};
};

QTEST_GUILESS_MAIN(TestIomodule)
#include "tst_iomodule.moc"
