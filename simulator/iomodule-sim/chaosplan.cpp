#include "chaosplan.h"

#include "escaping.h"

#include <QStringList>

namespace {

// Relative weights of the event kinds, per frame. At 10 frames a second a
// flood or a lost line comes about every 10 to 15 s and lasts a few seconds,
// so the panel spends most of its time on bad and odd replies, not waiting.
struct Weight
{
    ChaosPlan::Kind kind;
    int weight;
};
constexpr Weight weights[] = {
    {ChaosPlan::Kind::AllInputs, 24}, {ChaosPlan::Kind::SingleInputs, 15}, {ChaosPlan::Kind::Firmware, 7},
    {ChaosPlan::Kind::Split, 14},     {ChaosPlan::Kind::Garbage, 14},      {ChaosPlan::Kind::Silence, 14},
    {ChaosPlan::Kind::Flood, 1},      {ChaosPlan::Kind::LineLost, 1},
};

// Version fields that a label would take as rich text if it were allowed to.
const char *const markup[] = {"<b>bold</b>",  "<img src=/x.png>", "<a href=x>x</a>",
                              "<h1>IOM</h1>", "&lt;&amp;",        "<table><tr><td>"};

} // namespace

ChaosPlan::ChaosPlan(quint32 seed)
    : rng_(seed)
{ }

int ChaosPlan::between(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng_);
}

bool ChaosPlan::chance(int percent)
{
    return between(1, 100) <= percent;
}

QByteArray ChaosPlan::randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(between(0, 255));
    return bytes;
}

QByteArray ChaosPlan::allInputsReport()
{
    QByteArray report("~A");
    for (int i = 0; i < 5; ++i)
        report += chance(95) ? char('0' + between(0, 1)) : char(between(0, 255));
    return report;
}

QByteArray ChaosPlan::singleInputReport()
{
    // Mostly the module's channels 6..10 (hex 6..A), sometimes any hex digit
    // or any byte; the state mostly '0'/'1'.
    static const char hex[] = "0123456789ABCDEFabcdef";
    char channel = "6789A"[between(0, 4)];
    if (chance(15))
        channel = hex[between(0, int(sizeof hex) - 2)];
    else if (chance(5))
        channel = char(between(0, 255));
    const char state = chance(90) ? char('0' + between(0, 1)) : char(between(0, 255));
    return QByteArray("~G") + channel + state;
}

QByteArray ChaosPlan::firmwareReport()
{
    QByteArray version;
    switch (between(0, 3)) {
    case 0: // a plain version, padded with NULs as the module does
        version = "IOM-" + QByteArray::number(between(1, 9)) + '.' + QByteArray::number(between(0, 99));
        break;
    case 1: // markup
        version = markup[between(0, int(sizeof markup / sizeof *markup) - 1)];
        break;
    case 2: // any bytes, NULs and invalid UTF-8 included
        version = randomBytes(16);
        break;
    default: // printable text with a NUL somewhere in it
        for (int i = 0; i < 16; ++i)
            version += char(between(0x20, 0x7e));
        version[between(0, 15)] = '\0';
        break;
    }
    version = version.left(16);
    return "~I" + version + QByteArray(16 - version.size(), '\0');
}

QByteArray ChaosPlan::anyReport()
{
    switch (between(0, 2)) {
    case 0:
        return allInputsReport();
    case 1:
        return singleInputReport();
    default:
        return firmwareReport();
    }
}

ChaosPlan::Event ChaosPlan::next()
{
    int total = 0;
    for (const Weight &w : weights)
        total += w.weight;
    int pick = between(0, total - 1);
    Kind kind = Kind::Silence;
    for (const Weight &w : weights) {
        if (pick < w.weight) {
            kind = w.kind;
            break;
        }
        pick -= w.weight;
    }

    Event event;
    event.kind = kind;
    switch (kind) {
    case Kind::AllInputs:
        event.reply = {{between(0, 10), allInputsReport()}};
        break;
    case Kind::SingleInputs: {
        QByteArray bytes;
        for (int n = between(1, 5); n > 0; --n)
            bytes += singleInputReport();
        event.reply = {{between(0, 10), bytes}};
        break;
    }
    case Kind::Firmware: {
        // Mostly one report; sometimes a burst of several, sometimes with
        // other reports around it.
        QByteArray bytes;
        for (int n = chance(70) ? 1 : between(2, 6); n > 0; --n)
            bytes += firmwareReport();
        if (chance(20))
            bytes = allInputsReport() + bytes + singleInputReport();
        event.reply = {{between(0, 10), bytes}};
        break;
    }
    case Kind::Split: {
        // The panel stops collecting after 20 ms of silence, so a gap of more
        // than that leaves a partial report in one exchange and the rest in
        // a later one (or in the tty buffer while the port is closed).
        const QByteArray report = anyReport();
        int cut = 0;
        int delay = between(0, 10);
        for (int pieces = between(2, 4); pieces > 1 && cut < report.size() - 1; --pieces) {
            const int next = between(cut + 1, report.size() - 1);
            event.reply.append({delay, report.mid(cut, next - cut)});
            cut = next;
            delay = between(25, 180);
        }
        event.reply.append({delay, report.mid(cut)});
        break;
    }
    case Kind::Garbage:
        event.reply = {{between(0, 10), randomBytes(chance(90) ? between(1, 64) : between(65, 6000))}};
        break;
    case Kind::Silence:
        break;
    case Kind::Flood:
        event.floodChunk = randomBytes(between(16, 512));
        if (chance(30)) // reports inside the noise, for the decoder to find
            event.floodChunk += anyReport();
        event.floodGapMs = chance(30) ? 0 : between(1, 20);
        event.durationMs = between(1000, 5000);
        break;
    case Kind::LineLost:
        event.durationMs = between(500, 3000);
        break;
    }
    return event;
}

QString ChaosPlan::kindName(Kind kind)
{
    switch (kind) {
    case Kind::AllInputs:
        return QStringLiteral("all inputs");
    case Kind::SingleInputs:
        return QStringLiteral("single inputs");
    case Kind::Firmware:
        return QStringLiteral("firmware");
    case Kind::Split:
        return QStringLiteral("split reply");
    case Kind::Garbage:
        return QStringLiteral("garbage");
    case Kind::Silence:
        return QStringLiteral("silence");
    case Kind::Flood:
        return QStringLiteral("flood");
    case Kind::LineLost:
        return QStringLiteral("line lost");
    }
    return {};
}

QString ChaosPlan::describe(const Event &event)
{
    QStringList parts;
    switch (event.kind) {
    case Kind::Flood:
        parts << QStringLiteral("%1 bytes every %2 ms for %3 ms: %4")
                     .arg(event.floodChunk.size())
                     .arg(event.floodGapMs)
                     .arg(event.durationMs)
                     .arg(quoted(event.floodChunk, '"', 12));
        break;
    case Kind::LineLost:
        parts << QStringLiteral("for %1 ms").arg(event.durationMs);
        break;
    default:
        for (const PtyModule::Piece &piece : event.reply)
            parts << QStringLiteral("+%1 ms %2 (%3 bytes)")
                         .arg(piece.delayMs)
                         .arg(quoted(piece.bytes, '"', 24))
                         .arg(piece.bytes.size());
        break;
    }
    const QString what = parts.join(QStringLiteral(", "));
    return what.isEmpty() ? kindName(event.kind) : kindName(event.kind) + QStringLiteral(": ") + what;
}
