// The panel's record file (--record) with the window polling the module
// stand-in: the rows of a session, appending, and writes that start failing.
#include <QCheckBox>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "ptymodule.h"
#include "recordfile.h"
#include "windowtesting.h"

namespace {
const QRegularExpression
    isoTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));

// The rows of `event` in a record, without their time, which must be ISO
// 8601 local with the offset.
QStringList rowsIn(const QByteArray &record, const QString &event)
{
    QStringList rows;
    for (const QString &line : QString::fromUtf8(record).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int comma = line.indexOf(QLatin1Char(','));
        if (line.mid(comma + 1).startsWith(event + QLatin1Char(',')))
            rows << (isoTime.match(line.left(comma)).hasMatch() ? line.mid(comma + 1)
                                                                : QStringLiteral("bad: ") + line);
    }
    return rows;
}

QStringList rowsOf(const QString &path, const QString &event)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? rowsIn(file.readAll(), event) : QStringList();
}
} // namespace

class TestRecordFile : public QObject
{
    Q_OBJECT

private slots:
    // As the panel does: a reader gone shows as a failed write.
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }
    void session();
    void writeFailure_data();
    void writeFailure();
};

// Input changes, output changes, a time-out and a message that needs quoting,
// in a file that exists but is empty; then a second run appends to it.
void TestRecordFile::session()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("record.csv"));
    QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    PtyModule module;
    module.setInput(6, true);
    module.setInput(8, true);
    {
        RecordFile record(path);
        QString error;
        QVERIFY2(record.open(&error), qPrintable(error));
        auto window = windowOn(module.portName());
        window->setEvents(&record);
        QTRY_COMPARE(lamps(*window), QStringLiteral("10100"));
        QTRY_VERIFY(module.frames().size() >= 2); // "~A", then the first "~P" with all boxes clear
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_2"))->setChecked(true);
        QTRY_COMPARE(module.outputs(), QStringLiteral("01000"));
        module.setInput(7, true);
        QTRY_COMPARE(lamps(*window), QStringLiteral("11100"));
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{}; });
        QTRY_VERIFY(
            window->statusBar()->currentMessage().startsWith(QLatin1String("Wait read response timeout")));
        // A frame replaced before the worker took it up never went out and
        // leaves no row. A reply trickling in keeps the worker busy meanwhile.
        PtyModule::Reply trickle;
        for (int piece = 0; piece < 30; ++piece)
            trickle << PtyModule::Piece{10, "~"};
        module.setResponder([trickle](const QByteArray &) { return trickle; });
        const int framesBefore = module.frames().size();
        QTRY_VERIFY(module.frames().size() > framesBefore);
        window->send_ch3(1);
        window->send_ch3(0);
        module.setResponder({});
        window->ser_error(QStringLiteral("say \"hi\", twice"));
    }
    {
        RecordFile again(path);
        QString error;
        QVERIFY2(again.open(&error), qPrintable(error));
        again.statusMessageShown(QStringLiteral("second run"));
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine(), QByteArray("time,event,channel,state,text\n"));
    QVERIFY(!file.readAll().contains("time,event"));
    QCOMPARE(rowsOf(path, QStringLiteral("input")),
             QStringList({"input,6,on,", "input,7,off,", "input,8,on,", "input,9,off,", "input,10,off,",
                          "input,7,on,"}));
    QCOMPARE(rowsOf(path, QStringLiteral("output")),
             QStringList({"output,1,off,", "output,2,off,", "output,3,off,", "output,4,off,", "output,5,off,",
                          "output,2,on,"}));
    const QStringList statuses = rowsOf(path, QStringLiteral("status"));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^status,,,\"Wait read response timeout \\d\\d:\\d\\d:\\d\\d\"$"))
            .match(statuses.value(0))
            .hasMatch(),
        qPrintable(statuses.join(QLatin1Char('\n'))));
    QCOMPARE(statuses.mid(statuses.size() - 2),
             QStringList({"status,,,\"say \"\"hi\"\", twice\"", "status,,,\"second run\""}));
}

void TestRecordFile::writeFailure_data()
{
    QTest::addColumn<QString>("file");   // how the file fails or stalls
    QTest::addColumn<int>("bound");      // of the rows waiting for a reader
    QTest::addColumn<QString>("reason"); // of the stop; empty: recording goes on
    QTest::addColumn<int>("taken");      // input and output rows a stalled reader gets once it reads
    const int bound = RecordFile::defaultWaitingBound;
    QTest::newRow("file removed") << "removed" << bound
                                  << QStringLiteral("^Recording stopped: .*record\\.csv was removed$") << 0;
    QTest::newRow("file system full")
        << "full" << bound << QStringLiteral("^Recording stopped: No space left on device$") << 0;
    QTest::newRow("FIFO reader gone")
        << "gone" << bound << QStringLiteral("^Recording stopped: Broken pipe$") << 0;
    // Every row waits: the first report's, the first "~P" frame's, and six
    // input changes.
    QTest::newRow("FIFO reader stalled") << "stalled" << bound << QString() << 16;
    // Past the bound, after the header and five rows of 43 or 44 bytes.
    QTest::newRow("FIFO reader stalled past the bound")
        << "stalled" << 260
        << QStringLiteral("^Recording stopped: the reader of .*record\\.csv fell 260 bytes behind$") << 5;
}

// The status bar says so once, nothing more is written, and the panel polls
// on with its lamps following the inputs.
void TestRecordFile::writeFailure()
{
    QFETCH(QString, file);
    QFETCH(int, bound);
    QFETCH(QString, reason);
    QFETCH(int, taken);

    QTemporaryDir dir;
    // A tmpfs of two pages, one taken by a filler: a file system that fills up.
    const QString small = dir.filePath(QStringLiteral("small"));
    bool mounted = false;
    int reader = -1;
    const auto cleanUp = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {small});
        if (reader >= 0)
            ::close(reader);
    });
    QString path = dir.filePath(QStringLiteral("record.csv"));
    if (file == QLatin1String("full")) {
        if (::geteuid() != 0)
            QSKIP("mounting a small tmpfs needs root");
        QVERIFY(QDir().mkpath(small));
        mounted = QProcess::execute(QStringLiteral("mount"),
                                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                     QStringLiteral("size=8k"), QStringLiteral("tmpfs"), small})
            == 0;
        QVERIFY(mounted);
        QFile filler(small + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly) && filler.write(QByteArray(4096, 'x')) == 4096);
        path = small + QStringLiteral("/record.csv");
        // An earlier run's rows fill the last page but for a few bytes.
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("time,event,channel,state,text\n" + QByteArray(4000, '#') + '\n');
    }
    const QByteArray filled(4096, '#');
    if (file == QLatin1String("gone") || file == QLatin1String("stalled")) {
        // A FIFO whose pipe, shrunk to one page, another writer has filled.
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QCOMPARE(::fcntl(reader, F_SETPIPE_SZ, filled.size()), filled.size());
        QFile filler(path);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
                && filler.write(filled) == filled.size());
    }

    PtyModule module;
    RecordFile record(path, bound);
    QString error;
    QVERIFY2(record.open(&error), qPrintable(error));
    auto window = windowOn(module.portName());
    record.reportStopsIn(window->statusBar());
    const auto stopped = [&window] {
        QStringList texts;
        for (const QLabel *label : window->statusBar()->findChildren<QLabel *>()) {
            if (label->text().startsWith(QLatin1String("Recording stopped")))
                texts << label->text();
        }
        return texts;
    };
    window->setEvents(&record);
    QTRY_COMPARE(lamps(*window), QStringLiteral("00000"));
    if (file == QLatin1String("removed"))
        QVERIFY(QFile::remove(path));
    if (file == QLatin1String("gone")) {
        ::close(reader);
        reader = -1;
    }

    for (int channel = 6; channel <= 10 && stopped().isEmpty(); ++channel) {
        module.setInput(channel, true);
        QTRY_VERIFY(lamps(*window).at(channel - 6) == QLatin1Char('1'));
    }
    const int stops = reason.isEmpty() ? 0 : 1;
    QCOMPARE(stopped().size(), stops);
    QVERIFY2(reason.isEmpty() || QRegularExpression(reason).match(stopped().first()).hasMatch(),
             qPrintable(stopped().join(QLatin1Char('\n'))));
    QCOMPARE(record.isRecording(), reason.isEmpty());

    const qint64 size = QFileInfo(path).size();
    module.clearFrames();
    module.setInput(6, false);
    QTRY_COMPARE(lamps(*window).at(0), QLatin1Char('0'));
    QTRY_VERIFY(module.frames().size() >= 4);
    QCOMPARE(stopped().size(), stops);
    QCOMPARE(QFileInfo(path).size(), size);

    if (reader >= 0) {
        // Once the reader reads it gets the rows in order, each one whole.
        QByteArray read;
        const auto rows = [&] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                read.append(buffer, int(n));
            return rowsIn(read, QStringLiteral("input")) + rowsIn(read, QStringLiteral("output"));
        };
        QTRY_COMPARE(rows().size(), taken);
        QVERIFY(read.startsWith(filled + "time,event,channel,state,text\n") && read.endsWith('\n'));
        QCOMPARE(rowsIn(read, QStringLiteral("input")).mid(5),
                 reason.isEmpty() ? QStringList({"input,6,on,", "input,7,on,", "input,8,on,", "input,9,on,",
                                                 "input,10,on,", "input,6,off,"})
                                  : QStringList());
    }
}

QTEST_MAIN(TestRecordFile)
#include "tst_recordfile.moc"
