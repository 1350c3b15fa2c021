#include "statusfit.h"

#include <QStatusBar>
#include <QVariant>

#include <algorithm>

#include "nameelide.h"

namespace {

// Holds {shown, whole} for the last message that was elided.
const char wholeMessageProperty[] = "wholeMessage";

// QStatusBar draws its message from 6 pixels in to 12 pixels before its right
// edge, or to 2 pixels before the first widget on its right (the size grip, a
// permanent widget such as the record file's stop notice).
int messageRoom(const QStatusBar *bar)
{
    int right = bar->width() - 12;
    for (const QWidget *child : bar->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            right = std::min(right, child->x() - 2);
    }
    return right - 6;
}

QString fitted(const QStatusBar *bar, const QString &message, const QStringList &names)
{
    const QFontMetrics metrics = bar->fontMetrics();
    const int room = messageRoom(bar);
    if (!bar->isVisible() || metrics.horizontalAdvance(message) <= room)
        return message;
    QString name;
    for (const QString &candidate : names) {
        if (candidate.size() > name.size() && message.contains(candidate))
            name = candidate;
    }
    if (name.isEmpty())
        return message;
    const int at = message.indexOf(name);
    const QString before = message.left(at);
    const QString after = message.mid(at + name.size());
    // Measured on the whole, for kerning across the joins. Where not even
    // "…" for the name makes it fit, that is as close as it gets.
    for (int width = std::max(0, room - metrics.horizontalAdvance(before + after));; --width) {
        const QString shown = before + elideNameMiddle(name, metrics, width) + after;
        if (width == 0 || metrics.horizontalAdvance(shown) <= room)
            return shown;
    }
}

} // namespace

void showFittedMessage(QStatusBar *bar, const QString &message, const QStringList &names, int timeoutMs)
{
    const QString shown = fitted(bar, message, names);
    bar->setProperty(wholeMessageProperty, shown == message ? QVariant() : QStringList{shown, message});
    bar->showMessage(shown, timeoutMs);
}

QString wholeStatusMessage(const QStatusBar *bar, const QString &shown)
{
    const QStringList pair = bar->property(wholeMessageProperty).toStringList();
    return pair.size() == 2 && pair.first() == shown && !shown.isEmpty() ? pair.last() : shown;
}
