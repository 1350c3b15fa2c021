// The panel's record file (--record) with the window polling the module
// stand-in: the rows of a session, appending, and writes that start failing.
#include <QCheckBox>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "ptymodule.h"
#include "recordfile.h"
#include "windowtesting.h"

namespace {
const QRegularExpression
    isoTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));

// The rows of `event` in the record file, without their time, which must be
// ISO 8601 local with the offset.
QStringList rowsOf(const QString &path, const QString &event)
{
    QFile file(path);
    QStringList rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QString &line :
         QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int comma = line.indexOf(QLatin1Char(','));
        if (line.mid(comma + 1).startsWith(event + QLatin1Char(',')))
            rows << (isoTime.match(line.left(comma)).hasMatch() ? line.mid(comma + 1)
                                                                : QStringLiteral("bad: ") + line);
    }
    return rows;
}
} // namespace

class TestRecordFile : public QObject
{
    Q_OBJECT

private slots:
    void session();
    void writeFailure_data();
    void writeFailure();
};

// Input changes, output changes, a time-out and a message that needs quoting;
// then a second run appends to the same file.
void TestRecordFile::session()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("record.csv"));
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
    QTest::addColumn<bool>("fullFileSystem"); // else the file is removed
    QTest::addColumn<QString>("reason");
    QTest::newRow("file removed") << false
                                  << QStringLiteral("^Recording stopped: .*record\\.csv was removed$");
    QTest::newRow("file system full")
        << true << QStringLiteral("^Recording stopped: No space left on device$");
}

// The status bar says so once, nothing more is written, and the panel polls
// on with its lamps following the inputs.
void TestRecordFile::writeFailure()
{
    QFETCH(bool, fullFileSystem);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    // A tmpfs of two pages, one taken by a filler: a file system that fills up.
    const QString small = dir.filePath(QStringLiteral("small"));
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {small});
    });
    QString path = dir.filePath(QStringLiteral("record.csv"));
    if (fullFileSystem) {
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

    PtyModule module;
    RecordFile record(path);
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
    if (!fullFileSystem)
        QVERIFY(QFile::remove(path));

    for (int channel = 6; channel <= 10 && stopped().isEmpty(); ++channel) {
        module.setInput(channel, true);
        QTRY_VERIFY(lamps(*window).at(channel - 6) == QLatin1Char('1'));
    }
    QCOMPARE(stopped().size(), 1);
    QVERIFY2(QRegularExpression(reason).match(stopped().first()).hasMatch(), qPrintable(stopped().first()));
    QVERIFY(!record.isRecording());

    const qint64 size = QFileInfo(path).size();
    module.clearFrames();
    module.setInput(6, false);
    QTRY_COMPARE(lamps(*window).at(0), QLatin1Char('0'));
    QTRY_VERIFY(module.frames().size() >= 4);
    QCOMPARE(stopped().size(), 1);
    QCOMPARE(QFileInfo(path).size(), size);
}

QTEST_MAIN(TestRecordFile)
#include "tst_recordfile.moc"
