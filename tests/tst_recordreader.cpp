// The panel's record file (--record) when writes fail or its reader stalls.
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <csignal>
#include <thread>

#include "processtesting.h"
#include "recordfile.h"
#include "windowtesting.h"

class TestRecordReader : public QObject
{
    Q_OBJECT

private slots:
    // As the panel does: a reader gone shows as a failed write.
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }

    void writeFailure_data()
    {
        QTest::addColumn<QString>("file");   // how the file fails or stalls
        QTest::addColumn<int>("bound");      // of the rows waiting for a reader
        QTest::addColumn<QString>("reason"); // of the stop; empty: recording goes on
        QTest::addColumn<int>("taken");      // input and output rows a stalled reader gets once it reads
        const int bound = RecordFile::defaultWaitingBound;
        QTest::newRow("file removed")
            << "removed" << bound << QStringLiteral("^Recording stopped: .*record\\.csv was removed$") << 0;
        QTest::newRow("file system full")
            << "full" << bound << QStringLiteral("^Recording stopped: No space left on device$") << 0;
        QTest::newRow("FIFO reader gone")
            << "gone" << bound << QStringLiteral("^Recording stopped: Broken pipe$") << 0;
        // Every row waits: the first report's, the first "~P" frame's, six changes.
        QTest::newRow("FIFO reader stalled") << "stalled" << bound << QString() << 16;
        // Past the bound, after the header and five rows of 43 or 44 bytes.
        QTest::newRow("FIFO reader stalled past the bound")
            << "stalled" << 260
            << QStringLiteral("^Recording stopped: the reader of .*record\\.csv fell 260 bytes behind$") << 5;
    }

    // The status bar says so once, nothing more is written, and the panel polls on.
    void writeFailure()
    {
        QFETCH(QString, file);
        QFETCH(int, bound);
        QFETCH(QString, reason);
        QFETCH(int, taken);

        QTemporaryDir dir;
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
            QVERIFY(mounted =
                        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8k", "tmpfs", small}) == 0);
            QFile filler(small + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly) && filler.write(QByteArray(4096, 'x')) == 4096);
            path = small + QStringLiteral("/record.csv");
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("time,event,channel,state,text\n" + QByteArray(4000, '#') + '\n');
        }
        if (file == QLatin1String("gone") || file == QLatin1String("stalled"))
            QVERIFY((reader = fullFifo(path)) >= 0);

        PtyModule module;
        RecordFile record(path, bound);
        QString error;
        QVERIFY2(record.open(&error), qPrintable(error));
        auto window = windowOn(module.portName());
        record.reportStopsIn(window->statusBar());
        const auto stopped = [&window] {
            QStringList texts;
            for (const QLabel *label : window->statusBar()->findChildren<QLabel *>())
                if (label->text().startsWith(QLatin1String("Recording stopped")))
                    texts << label->text();
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
            QByteArray read; // in order, each row whole
            const auto rows = [&] {
                char buffer[4096];
                for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                    read.append(buffer, int(n));
                return rowsIn(read, QStringLiteral("input")) + rowsIn(read, QStringLiteral("output"));
            };
            QTRY_COMPARE(rows().size(), taken);
            QVERIFY(read.startsWith(QByteArray(4096, '#') + "time,event,channel,state,text\n")
                    && read.endsWith('\n'));
            QCOMPARE(rowsIn(read, QStringLiteral("input")).mid(5),
                     reason.isEmpty() ? QStringList({"input,6,on,", "input,7,on,", "input,8,on,",
                                                     "input,9,on,", "input,10,on,", "input,6,off,"})
                                      : QStringList());
        }
    }

    void closeWithASlowReader_data()
    {
        QTest::addColumn<int>("pages");    // the reader takes, 50 ms apart, once the panel closes
        QTest::addColumn<bool>("longRow"); // first a status row longer than the pipe takes at once
        QTest::newRow("the reader takes everything within half a second") << 10 << false;
        QTest::newRow("the reader takes one page, then no more") << 1 << false;
        QTest::newRow("a long row, then everything") << 10 << true;
        QTest::newRow("a long row, then nothing") << 0 << true;
    }

    // At close the reader gets only whole rows, the rest counted; a 4 KiB row is cut.
    void closeWithASlowReader()
    {
        QFETCH(int, pages);
        QFETCH(bool, longRow);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.fifo"));
        const int reader = fullFifo(path);
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        QByteArray page(4096, '#');

        RecordFile record(path);
        QString error;
        QVERIFY2(record.open(&error), qPrintable(error));
        if (longRow)
            record.statusMessageShown(QStringLiteral("Can't open /%1, error code 2").arg(QString(4090, 'a')));
        const int rows = 200 + (longRow ? 1 : 0);
        for (int row = 0; row < 200; ++row)
            record.statusMessageShown(QStringLiteral("row %1").arg(row));
        QCOMPARE(int(::read(reader, page.data(), page.size())), page.size());
        QByteArray read;
        std::thread slowReader([&] {
            for (int taken = 0; taken < pages; ++taken) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const ssize_t size = ::read(reader, page.data(), page.size());
                read.append(page.constData(), int(std::max<ssize_t>(size, 0)));
            }
        });
        const bool finished = record.finish(&error);
        slowReader.join();
        for (ssize_t size; (size = ::read(reader, page.data(), page.size())) > 0;)
            read.append(page.constData(), int(size));

        QVERIFY(read.startsWith("time,event,channel,state,text\n"));
        QVERIFY2(read.endsWith('\n'), read.right(60).constData());
        const int notWritten = rows - rowsIn(read, QStringLiteral("status")).size();
        QCOMPARE(finished, notWritten == 0);
        QCOMPARE(notWritten == 0, pages > 1);
        QByteArray cut;
        for (const QByteArray &row : read.split('\n'))
            if (row.contains(",status,,,\"Can't open /aaa"))
                cut = row;
        if (longRow && pages > 1)
            QVERIFY2(cut.endsWith("aaa [cut]\"") && cut.size() + 1 <= PIPE_BUF, cut.right(40).constData());
        if (notWritten > 0)
            QCOMPARE(error,
                     QStringLiteral("%1 rows not written to %2: its reader took no more")
                         .arg(notWritten)
                         .arg(path));
    }
};

QTEST_MAIN(TestRecordReader)
#include "tst_recordreader.moc"
