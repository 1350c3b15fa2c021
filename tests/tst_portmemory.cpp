// The port the panel saves at close and polls at the next start.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "portmemory.h"
#include "ptymodule.h"

class TestPortMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid()); // nothing here may reach the user's own settings
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        QStandardPaths::setTestModeEnabled(true);
        link = home.filePath(QStringLiteral("module"));
        QVERIFY(QFile::link(module.portName(), link));
        QVERIFY(QDir::setCurrent(home.path()));
    }

    void savedAndRecalled_data()
    {
        QTest::addColumn<QString>("shown");    // the port shown at close
        QTest::addColumn<QString>("saved");    // what the file then holds; empty: nothing
        QTest::addColumn<QString>("recalled"); // what the next start polls; empty: nothing

        const auto row = [](const char *name, const QString &shown, const QString &saved,
                            const QString &recalled) { QTest::newRow(name) << shown << saved << recalled; };
        row("a listed name is a device under /dev", "null", "null", "/dev/null");
        row("a listed name gone since", "ttyIOPANEL9", "ttyIOPANEL9", {});
        row("a link to a pseudo-terminal", link, link, link);
        row("a relative path, saved absolute", "./module", link, link);
        row("a pseudo-terminal", module.portName(), {}, {});
        row("a pseudo-terminal, spelt otherwise", module.portName().replace("/pts/", "//pts/./"), {}, {});
        row("an empty list", {}, {}, {});
    }

    void savedAndRecalled()
    {
        QFETCH(QString, shown);
        QFETCH(QString, saved);
        QFETCH(QString, recalled);

        const QString fileName = home.filePath(QStringLiteral("saved.conf"));
        QFile::remove(fileName);
        {
            QSettings settings(fileName, QSettings::IniFormat);
            QVERIFY(rememberPort(settings, shown));
        }
        const QSettings settings(fileName, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("port")).toString(), saved);
        QCOMPARE(QFile::exists(fileName), !saved.isEmpty());
        QCOMPARE(rememberedPort(settings), recalled);
    }

    void unusableSettingsAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the settings file
        QTest::addColumn<bool>("writable");

        QTest::newRow("a list") << QByteArray("[General]\nport=null, null\n") << true;
        QTest::newRow("no port") << QByteArray("[General]\nother=null\n") << true;
        QTest::newRow("a pseudo-terminal written by hand")
            << ("[General]\nport=" + module.portName().toUtf8() + '\n') << true;
        QTest::newRow("a directory") << QByteArray("[General]\nport=..\n") << true;
        QTest::newRow("binary garbage") << QByteArray("\xff\xfe[\0\x01port=\x80\n@Variant(\x7f", 21) << true;
        QTest::newRow("neither readable nor writable") << QByteArray() << false; // as root: a directory
    }

    void unusableSettingsAreIgnored()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, writable);

        QTemporaryDir dir(home.filePath(QStringLiteral("XXXXXX")));
        const QString fileName = dir.filePath(QStringLiteral("iopanel.conf"));
        if (writable) {
            QFile file(fileName);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        } else {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("iopanel.conf")));
        }

        QSettings settings(fileName, QSettings::IniFormat);
        QCOMPARE(rememberedPort(settings), QString());
        QCOMPARE(rememberPort(settings, link), writable);
        if (writable)
            QCOMPARE(rememberedPort(QSettings(fileName, QSettings::IniFormat)), link);
    }

private:
    QTemporaryDir home;
    PtyModule module; // a pseudo-terminal, and the target of a link to one
    QString link;
};

QTEST_GUILESS_MAIN(TestPortMemory)
#include "tst_portmemory.moc"
