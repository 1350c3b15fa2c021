#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QSocketNotifier;

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <mosquitto.h>

#include "brokersettings.h"
#include "mqttmessage.h"
#include "mqttreasons.h"

// A connection to the broker, through libmosquitto (MQTT 5). A
// thread of its own connects, reconnects with a growing delay and keeps the
// connection alive, so blocking serial exchanges on the event loop's thread
// never hold it up. What happens there is queued under the mutex and
// reaches this object's signals on the event loop's thread, woken through a
// pipe: nothing made on the connection's thread is handed over otherwise.
//
// Messages come in at QoS 1 in a session the broker keeps, so messages
// published while the program is away wait for it. About inboxSize messages
// wait here: while that many wait, the connection's thread stops reading
// from the broker, which then holds back the rest, and goes on writing.
class MqttClient : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        BrokerSettings broker;
        QString willTopic; // "offline" goes there, retained, if the connection dies; none if empty
        QStringList subscriptions;
        // A bridge keeps its session, so that commands wait for it while it
        // is away. A panel starts a clean one on every connection: the
        // retained messages give it the state, and nothing is queued for it.
        bool keepSession = true;
        // Messages published retained while subscribed come flagged too (a
        // bridge never runs a retained command); without it only those from
        // the broker's store, which tell a state from before the connection.
        bool retainAsPublished = true;
    };

    static constexpr int inboxSize = 16;
    // The broker sends no larger message: a flood of huge ones costs nothing.
    static constexpr int maxPacketBytes = 16 * 1024;

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Sets the connection up and starts connecting; an empty string, or why
    // the library could not be set up.
    QString start(const Settings &settings);
    // Publishes retained at QoS 0; nothing while not connected. Everything
    // is published again on every connection, so nothing is lost with a
    // connection, and no window of unacknowledged messages holds up an
    // input change behind the outputs of a burst of commands. With
    // expirySeconds, the broker drops the message that long after: a new
    // subscriber no longer gets it (0: kept until replaced). A message the
    // library refuses (a topic or size it does not take) is dropped, and
    // publishRefused() names the first of each reason.
    void publish(const QString &topic, const QByteArray &payload, int expirySeconds = 0);
    // Sends a message at QoS 1, not retained; false, saying why, while not
    // connected or when the library refuses it.
    bool send(const QString &topic, const QByteArray &payload, QString *problem);
    bool isConnected() const { return connectedNow; }
    // The next message taken from the broker, if any.
    bool takeMessage(MqttMessage &message);
    int messagesWaiting() const;
    // Disconnects (the will is not sent) after what was published, and ends
    // the connection's thread, within waitMs.
    void stop(int waitMs);

signals:
    void connected();
    void connectionLost(const QString &reason); // also a first connection that failed
    void refused(const QString &reason);        // the broker can't be used: credentials, certificate
    void messagesArrived();
    void publishRefused(const QString &reason); // once for each library error

private:
    static void onConnect(mosquitto *, void *self, int reason, int flags, const mosquitto_property *);
    static void onDisconnect(mosquitto *, void *self, int reason, const mosquitto_property *);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message,
                          const mosquitto_property *);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    void run(); // the connection's thread
    bool stopping() const;
    // Tells the event loop's thread why connecting failed (rc a library
    // error code); false when no retry can mend it.
    bool connectFailed(int rc);
    // Why the socket's peer is gone, after a poll said it hung up; empty
    // while something is left to read.
    static QString hungUp(int socket);
    void sleepUnlessStopped(int milliseconds);
    bool hasRoom() const;
    void wake(); // the connection's thread, to write, read again or stop
    static void poke(int pipe);
    static void drain(int pipe); // takes the wake-ups poke() left
    void post(bool connectedNow, const QString &reason, bool fatal);
    void deliver(); // on the event loop's thread: what post() and onMessage() queued

    // What happened on the connection's thread, for the event loop's.
    struct Happening
    {
        enum Kind { Connected, Lost, Refused } kind;
        QString reason;
    };

    Settings settings;
    mosquitto *client = nullptr;
    std::thread thread;
    mutable std::mutex mutex; // guards what follows
    std::condition_variable changed;
    std::deque<MqttMessage> inbox;
    std::deque<Happening> happenings;
    bool stopRequested = false;
    int wakeRead = -1; // a pipe that wakes the connection's thread
    int wakeWrite = -1;
    int noticeRead = -1; // a pipe that wakes the event loop's thread
    int noticeWrite = -1;
    QSocketNotifier *notice = nullptr;
    bool threadDone = false;
    bool refusalSent = false;
    MqttReasons::TlsOutcome tls; // the connection's thread only
    bool connectedNow = false;   // event loop's thread only
    QSet<int> publishErrors;     // told already; event loop's thread only
};

#endif // MQTTCLIENT_H
