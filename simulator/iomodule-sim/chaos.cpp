#include "chaos.h"

Chaos::Chaos(PtyModule &module, quint32 seed, int repeatEvery, QObject *parent)
    : QObject(parent)
    , module_(module)
    , seed_(seed)
    , repeatEvery_(repeatEvery)
    , plan_(seed)
{
    floodTimer_.setSingleShot(true);
    replugTimer_.setSingleShot(true);
    connect(&floodTimer_, &QTimer::timeout, this, &Chaos::stopFlood);
    connect(&replugTimer_, &QTimer::timeout, this, &Chaos::bringLineBack);
}

PtyModule::Reply Chaos::respond()
{
    if (repeatEvery_ > 0 && events_ > 0 && events_ % quint64(repeatEvery_) == 0)
        plan_ = ChaosPlan(seed_);
    const ChaosPlan::Event event = plan_.next();
    ++events_;
    QString text = QStringLiteral("chaos #%1 %2").arg(events_).arg(ChaosPlan::describe(event));
    // Logged before the event is started, so that its own lines come after.
    const bool lineGoing = event.kind == ChaosPlan::Kind::LineLost && lineDown_.exchange(true);
    if (lineGoing) // a frame that slipped in before the line went does not lose it twice
        text += QStringLiteral(" (already going: silence)");
    emit noted(text);
    if (event.kind == ChaosPlan::Kind::Flood)
        QMetaObject::invokeMethod(
            this, [this, event] { startFlood(event); }, Qt::QueuedConnection);
    else if (event.kind == ChaosPlan::Kind::LineLost && !lineGoing)
        QMetaObject::invokeMethod(
            this, [this, event] { loseLine(event.durationMs); }, Qt::QueuedConnection);
    return event.reply;
}

void Chaos::startFlood(const ChaosPlan::Event &event)
{
    // A flood during a flood replaces it and lasts from now.
    module_.startFlood(event.floodChunk, event.floodGapMs);
    floodTimer_.start(event.durationMs);
}

void Chaos::stopFlood()
{
    module_.stopFlood();
    emit noted(QStringLiteral("chaos flood stopped"));
}

void Chaos::loseLine(int durationMs)
{
    const QString path = module_.portName();
    module_.unplug();
    emit portChanged(QString());
    emit noted(QStringLiteral("chaos line lost: %1 gone for %2 ms").arg(path).arg(durationMs));
    replugTimer_.start(durationMs);
}

void Chaos::bringLineBack()
{
    module_.replug();
    const QString path = module_.portName();
    if (path.isEmpty()) {
        // No pseudo-terminal to be had now; the panel keeps failing to open
        // the link meanwhile, as with a cable still out.
        emit noted(
            QStringLiteral("chaos line still lost: can't open a pseudo-terminal, trying again in 1 s"));
        replugTimer_.start(1000);
        return;
    }
    emit portChanged(path);
    emit noted(QStringLiteral("chaos line back on %1").arg(path));
    lineDown_ = false;
}
