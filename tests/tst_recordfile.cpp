// The panel's record file (--record): a session's rows, and the links it follows.
#include <QCheckBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "processtesting.h"
#include "recordfile.h"
#include "windowtesting.h"

class TestRecordFile : public QObject
{
    Q_OBJECT

private slots:
    // Changes, a time-out and a quoted message in an empty file; a second run appends.
    void session()
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
            QTRY_VERIFY(window->statusBar()->currentMessage().startsWith(
                QLatin1String("Wait read response timeout")));
            // A frame replaced before the busy worker took it up leaves no row.
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
        const QByteArray record = file.readAll();
        QVERIFY(record.startsWith("time,event,channel,state,text\n"));
        QCOMPARE(record.count("time,event"), 1);
        QCOMPARE(rowsIn(record, "input"),
                 QStringList({"input,6,on,", "input,7,off,", "input,8,on,", "input,9,off,", "input,10,off,",
                              "input,7,on,"}));
        QCOMPARE(rowsIn(record, "output"),
                 QStringList({"output,1,off,", "output,2,off,", "output,3,off,", "output,4,off,",
                              "output,5,off,", "output,2,on,"}));
        const QStringList statuses = rowsIn(record, "status");
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^status,,,\"Wait read response timeout \\d\\d:\\d\\d:\\d\\d\"$"))
                     .match(statuses.value(0))
                     .hasMatch(),
                 qPrintable(statuses.join(QLatin1Char('\n'))));
        QCOMPARE(statuses.mid(statuses.size() - 2),
                 QStringList({"status,,,\"say \"\"hi\"\", twice\"", "status,,,\"second run\""}));
    }

    void linksOnThePath_data()
    {
        QTest::addColumn<QString>("record");   // in a folder that holds real.csv, real/ and the links
        QTest::addColumn<bool>("othersLinks"); // the links belong to nobody, not to the user running
        QTest::addColumn<QString>("written");  // the file that gets the header; empty: refused

        QTest::newRow("one's own link") << "link.csv" << false << "real.csv";
        QTest::newRow("one's own link to a file not there yet") << "new.csv" << false << "made.csv";
        QTest::newRow("one's own link to a folder on the way")
            << "folder/real.csv" << false << "real/real.csv";
        QTest::newRow("another user's link to a folder on the way") << "folder/real.csv" << true << "";
        QTest::newRow("another user's link") << "link.csv" << true << "";
    }

    // A link anywhere on the path is followed only when it is the user's or root's.
    void linksOnThePath()
    {
        QFETCH(QString, record);
        QFETCH(bool, othersLinks);
        QFETCH(QString, written);

        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(QStringLiteral("real.csv"))).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
        if (othersLinks && ::geteuid() != 0)
            QSKIP("giving a link to another user needs root");
        const char *const links[][2] = {
            {"link.csv", "real.csv"}, {"new.csv", "made.csv"}, {"folder", "real"}};
        for (const auto &link : links) {
            const QByteArray path = QFile::encodeName(dir.filePath(QString::fromLatin1(link[0])));
            QCOMPARE(::symlink(link[1], path.constData()), 0);
            if (othersLinks)
                QCOMPARE(::lchown(path.constData(), 65534, 65534), 0);
        }
        const QString path = dir.filePath(record);

        RecordFile file(path);
        QString error;
        const bool opened = file.open(&error);
        QVERIFY(file.finish(&error));
        if (othersLinks) {
            QVERIFY(!opened);
            const QString link = dir.filePath(record.section(QLatin1Char('/'), 0, 0));
            QCOMPARE(
                error,
                QStringLiteral(
                    "can't record to %1: the symbolic link %2 belongs to user nobody, not to you or root")
                    .arg(path, link));
            return;
        }
        QVERIFY2(opened, qPrintable(error));
        QFile target(dir.filePath(written));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("time,event,channel,state,text\n"));
    }
};

QTEST_MAIN(TestRecordFile)
#include "tst_recordfile.moc"
