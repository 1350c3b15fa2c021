#ifndef LINEREADER_H
#define LINEREADER_H

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// Reads standard input a line at a time as it arrives, without ever
// blocking the event loop. Lines are numbered from 1; a line longer than
// maxLineBytes is named on standard error and skipped whole. While paused,
// no line is passed on and nothing more is read, so memory stays bounded
// whatever comes: one read and one line at most.
class LineReader : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxLineBytes = 1024;

    explicit LineReader(QObject *parent = nullptr);
    void start();
    void pause(); // also from a slot connected to lineRead: no further line follows
    void resume();

signals:
    void lineRead(int number, const QByteArray &line); // without its line break
    // The input has ended (a last line without a line break was passed on
    // first), or it can't be read, which was named on standard error.
    void ended(bool ok);

private:
    void readAvailable();
    void passLines();
    void take(const QByteArray &line);

    QSocketNotifier *notifier = nullptr;
    QByteArray pending;    // read but not yet passed on
    int lineNumber = 0;    // of the last line taken or skipped
    bool skipping = false; // inside a line found too long before its end
    bool paused = false;
    bool atEnd = false; // nothing more to read; `ended` once pending is passed on
    bool endOk = true;
};

#endif // LINEREADER_H
