// iopanel-mqtt on a broker closed with TLS and passwords; a passing failure is retried.
#include <QtTest>

#include <memory>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include "brokerprocess.h"
#include "rudepeer.h"

namespace {
// The processor time `pid` has used so far, in seconds.
double processorSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() < 13 ? -1 : (fields[11].toDouble() + fields[12].toDouble()) / ::sysconf(_SC_CLK_TCK);
}
} // namespace

class TestBridgeAccess : public QObject
{
    Q_OBJECT

private slots:
    // CAs, the broker's certificate for 127.0.0.1 only, users, password files and a FIFO.
    void initTestCase()
    {
        for (const char *tool : {"openssl", "mosquitto_passwd", "setfacl"})
            if (!Broker::available() || QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("mosquitto, its clients, mosquitto_passwd, openssl or setfacl is missing "
                      "(tools/install-deps.sh mqtt)");
        dir = broker.dir.path();
        const auto run = [this](const char *program, const QByteArray &arguments) {
            QProcess process;
            process.setWorkingDirectory(dir);
            process.start(QLatin1String(program), QString::fromLatin1(arguments).split(QLatin1Char(' ')));
            return process.waitForFinished(30000) && process.exitCode() == 0;
        };
        const auto write = [this](const char *name, const QByteArray &content,
                                  QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner) {
            QFile file(dir + QLatin1Char('/') + QLatin1String(name));
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
                && file.setPermissions(mode);
        };
        for (const char *line :
             {"req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=site-CA",
              "req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.crt -days 2 -subj /CN=other-CA",
              "req -newkey rsa:2048 -nodes -keyout broker.key -out broker.csr -subj /CN=broker"})
            QVERIFY2(run("openssl", line), line);
        QVERIFY(write("san", "subjectAltName=IP:127.0.0.1\n"));
        QVERIFY(run("openssl",
                    "x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out broker.crt "
                    "-days 2 -extfile san"));
        QVERIFY(write("users", "module1:s3cret-pw\n") && run("mosquitto_passwd", "-U users"));
        QVERIFY(write("pw600", "s3cret-pw\n") && write("wrong", "not-it\n")
                && write("pw644", "s3cret-pw\n",
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        // As systemd hands a credential over: mode 0400 and the service's user in an ACL.
        const passwd *self = ::getpwuid(::geteuid());
        const group *own = ::getgrgid(::getegid());
        QVERIFY(self && own);
        groupName = QString::fromLocal8Bit(own->gr_name);
        QVERIFY(write("pwuseracl", "s3cret-pw\n", QFile::ReadOwner) && write("pwgroupacl", "s3cret-pw\n"));
        QVERIFY(run("setfacl", "-m u:" + QByteArray(self->pw_name) + ":r pwuseracl"));
        QVERIFY(run("setfacl", "-m g:" + QByteArray(own->gr_name) + ":r pwgroupacl"));
        QVERIFY(::mkfifo(QFile::encodeName(dir + QStringLiteral("/fifo")).constData(), 0600) == 0);
        QVERIFY(write(
            "bridge.conf",
            QStringLiteral("# module 1\ntls-ca = %1/ca.crt\nusername = module1\npassword-file = %1/pw600\n")
                .arg(dir)
                .toUtf8()));
        QVERIFY2(
            broker.start(QStringLiteral("cafile %1/ca.crt\ncertfile %1/broker.crt\nkeyfile %1/broker.key\n"
                                        "allow_anonymous false\npassword_file %1/users")
                             .arg(dir)),
            qPrintable(broker.log.lines.join(QLatin1Char('\n'))));
    }

    void closedBroker_data()
    {
        QTest::addColumn<QString>(
            "arguments");                  // DIR: the test's files; the broker 127.0.0.1:PORT unless given
        QTest::addColumn<int>("exitCode"); // -1: connects and runs on
        QTest::addColumn<QString>("line"); // on standard error

        QTest::newRow("TLS, user and password file")
            << "--tls-ca DIR/ca.crt --username module1 --password-file DIR/pw600" << -1
            << "connected to 127.0.0.1:PORT as iopanel-mqtt-bench-m1";
        QTest::newRow("the same from a config file")
            << "--config DIR/bridge.conf" << -1 << "connected to 127.0.0.1:PORT";
        QTest::newRow("another CA")
            << "--tls-ca DIR/other.crt --username module1 --password-file DIR/pw600" << 2
            << "can't trust 127.0.0.1:PORT: its certificate does not verify against DIR/other.crt";
        QTest::newRow("a host name the certificate is not for")
            << "--broker localhost:PORT --config DIR/bridge.conf" << 2
            << "can't trust localhost:PORT: its certificate is not for the host name localhost";
        QTest::newRow("a wrong password")
            << "--config DIR/bridge.conf --password-file DIR/wrong" << 2
            << "127.0.0.1:PORT refused user 'module1' and its password: Not authorized";
        QTest::newRow("no user") << "--tls-ca DIR/ca.crt" << 2
                                 << "127.0.0.1:PORT refused a connection without a user name: Not authorized";
        QTest::newRow("a password file its group and others may read")
            << "--config DIR/bridge.conf --password-file DIR/pw644" << 2
            << "--password-file: can't use the password file DIR/pw644: group GROUP and others may use it "
               "(mode 0644); it must be for this user alone (chmod 600 DIR/pw644)";
        QTest::newRow("a password file this user alone may read through an ACL")
            << "--config DIR/bridge.conf --password-file DIR/pwuseracl" << -1
            << "connected to 127.0.0.1:PORT";
        QTest::newRow("a password file a group may read through an ACL")
            << "--config DIR/bridge.conf --password-file DIR/pwgroupacl" << 2
            << "--password-file: can't use the password file DIR/pwgroupacl: group GROUP may use it through "
               "its ACL (getfacl DIR/pwgroupacl); it must be for this user alone";
        // Refused at once, not waited for until a writer comes.
        QTest::newRow("a FIFO for the password file")
            << "--config DIR/bridge.conf --password-file DIR/fifo" << 2
            << "--password-file: can't read the password file DIR/fifo: not a regular file";
        QTest::newRow("a FIFO for the configuration file")
            << "--config DIR/fifo" << 2 << "can't read DIR/fifo: not a regular file";
        QTest::newRow("a FIFO for the CA file")
            << "--config DIR/bridge.conf --tls-ca DIR/fifo" << 2
            << "--tls-ca: can't read the CA file DIR/fifo: not a regular file";
    }

    void closedBroker()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        if (!arguments.startsWith(QLatin1String("--broker")))
            arguments.prepend(QLatin1String("--broker 127.0.0.1:PORT "));
        PtyModule module;
        QProcess bridge;
        bridge.start(QStringLiteral(IOPANEL_MQTT),
                     QStringList{"--port", module.portName(), "--topic", "bench/m1"}
                         + filled(arguments).split(QLatin1Char(' ')));
        QString errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += QString::fromLocal8Bit(bridge.readAllStandardError()))
                                     .contains("iopanel-mqtt: " + filled(line)),
                                 10000);
        if (exitCode < 0) {
            for (const char *file : {"cmdline", "environ"}) {
                QFile proc(QStringLiteral("/proc/%1/%2").arg(bridge.processId()).arg(QLatin1String(file)));
                QVERIFY(proc.open(QIODevice::ReadOnly));
                QVERIFY(!proc.readAll().contains("s3cret"));
            }
            bridge.terminate();
            exitCode = 0;
        }
        QVERIFY(bridge.state() == QProcess::NotRunning || bridge.waitForFinished(5000));
        QCOMPARE(bridge.exitCode(), exitCode);
        errors += QString::fromLocal8Bit(bridge.readAllStandardError());
        QCOMPARE(errors.count(QLatin1Char('\n')) - errors.count(QStringLiteral(" answers\n")), 1);
    }

    // The panel on the same broker: a refusal ends it before any window, a
    // broker away does not.
    void panelRefusals_data()
    {
        QTest::addColumn<QString>("arguments"); // after --broker 127.0.0.1:PORT --topic bench/+ unless given
        QTest::addColumn<int>("exitCode");      // -1: the window opens
        QTest::addColumn<QString>("line");      // its one line on standard error

        const QString user = "--tls-ca DIR/ca.crt --username module1 --password-file ";
        QTest::newRow("TLS, user and password file") << user + "DIR/pw600" << -1 << "";
        QTest::newRow("the broker away") << "--broker 127.0.0.1:1 --topic bench/+" << -1 << "";
        QTest::newRow("another CA")
            << "--tls-ca DIR/other.crt --username module1 --password-file DIR/pw600" << 2
            << "can't trust 127.0.0.1:PORT: its certificate does not verify against DIR/other.crt";
        QTest::newRow("a wrong password")
            << user + "DIR/wrong" << 2
            << "127.0.0.1:PORT refused user 'module1' and its password: Not authorized";
        QTest::newRow("a password file others may read")
            << user + "DIR/pw644" << 2
            << "--password-file: can't use the password file DIR/pw644: group GROUP and others may use it "
               "(mode 0644); it must be for this user alone (chmod 600 DIR/pw644)";
        QTest::newRow("--port too") << "--port /dev/null" << 2 << "--broker and --port exclude each other";
        QTest::newRow("a '#' in the topic")
            << "--broker 127.0.0.1:PORT --topic bench/#" << 2 << "--topic: takes a";
    }

    void panelRefusals()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        if (!arguments.startsWith(QLatin1String("--broker")))
            arguments.prepend(QLatin1String("--broker 127.0.0.1:PORT --topic bench/+ "));
        QProcess panel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", dir);
        environment.insert("XDG_CONFIG_HOME", dir);
        panel.setProcessEnvironment(environment);
        const QString record = dir + "/record.csv";
        QFile::remove(record);
        panel.start(QStringLiteral(IOPANEL),
                    filled(arguments + " --record " + record).split(QLatin1Char(' ')));
        if (exitCode < 0) {
            QVERIFY2(!panel.waitForFinished(2500), panel.readAllStandardError().constData());
            QTRY_VERIFY(QFile::exists(record)); // the window opened
            panel.terminate();
            exitCode = 0;
        }
        QVERIFY(panel.waitForFinished(10000));
        QCOMPARE(panel.exitCode(), exitCode);
        const QStringList lines = QString::fromLocal8Bit(panel.readAllStandardError())
                                      .split('\n', Qt::SkipEmptyParts)
                                      .filter(QRegularExpression("^iopanel: "));
        QCOMPARE(lines.size(), line.isEmpty() ? 0 : 1);
        QVERIFY2(line.isEmpty() || lines.first().startsWith("iopanel: " + filled(line)),
                 qPrintable(lines.join("")));
        QCOMPARE(QFile::exists(record), exitCode == 0);
    }

    // A closed, reset or unanswered connection is no verdict: tried again,
    // without spinning (a short keep-alive makes the silent broker quick).
    void passingFailures_data()
    {
        QTest::addColumn<int>("peer"); // a RudePeer::Manner, or -1: a TLS broker whose one slot is taken
        QTest::addColumn<QString>("reason");

        const QString gone =
            "(the TLS handshake failed: .+|the broker closed the connection|Connection reset by peer)";
        QTest::newRow("a full broker") << -1 << gone;
        QTest::newRow("closed at once") << int(RudePeer::Closes) << gone;
        QTest::newRow("reset at once") << int(RudePeer::Resets) << gone;
        QTest::newRow("no answer") << int(RudePeer::Holds) << "no answer from the broker within 5 s";
    }

    void passingFailures()
    {
        QFETCH(int, peer);
        QFETCH(QString, reason);
        Broker full;
        QProcess holder;
        std::unique_ptr<RudePeer> rude;
        if (peer < 0) {
            QVERIFY(full.start(QStringLiteral("max_connections 1\ncafile %1/ca.crt\ncertfile %1/broker.crt\n"
                                              "keyfile %1/broker.key\nallow_anonymous true")
                                   .arg(dir)));
            holder.start(QStringLiteral("mosquitto_sub"),
                         {"-h", "127.0.0.1", "-p", QString::number(full.port), "--cafile", dir + "/ca.crt",
                          "-t", "x"});
            QVERIFY(!full.log.waitForLine(QStringLiteral("New client connected")).isEmpty());
        } else {
            rude.reset(new RudePeer(RudePeer::Manner(peer)));
        }
        const QString address = QStringLiteral("127.0.0.1:%1").arg(rude ? rude->port : full.port);
        PtyModule module;
        QProcess bridge;
        bridge.setProcessChannelMode(QProcess::MergedChannels);
        ProcessOutput errors(bridge);
        QElapsedTimer running;
        running.start();
        bridge.start(QStringLiteral(IOPANEL_MQTT),
                     {"--port", module.portName(), "--topic", "bench/m1", "--broker", address, "--tls-ca",
                      dir + "/ca.crt", "--keepalive", "5"});
        QVERIFY2(!errors
                      .waitForLine("^iopanel-mqtt: can't connect to " + address + ": " + reason
                                       + "; trying again$",
                                   45000)
                      .isEmpty(),
                 qPrintable(errors.lines.join('\n')));
        if (rude) {
            QTRY_VERIFY_WITH_TIMEOUT(rude->accepted >= 2, 10000);
        } else {
            stop(holder);
            QVERIFY(!errors.waitForLine("^iopanel-mqtt: connected to " + address + " as ", 15000).isEmpty());
        }
        QCOMPARE(bridge.state(), QProcess::Running);
        const double used = processorSeconds(bridge.processId());
        QVERIFY2(used >= 0 && used < running.elapsed() / 2000.0, qPrintable(QString::number(used)));
        bridge.terminate();
        QVERIFY(bridge.waitForFinished(5000));
        QCOMPARE(bridge.exitCode(), 0);
    }

private:
    QString filled(QString text) const
    {
        return text.replace(QLatin1String("DIR"), dir)
            .replace(QLatin1String("GROUP"), groupName)
            .replace(QLatin1String("PORT"), QString::number(broker.port));
    }

    Broker broker;
    QString dir;
    QString groupName; // this user's group
};

QTEST_MAIN(TestBridgeAccess)
#include "tst_bridgeaccess.moc"
