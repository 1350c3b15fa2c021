#include "nameelide.h"

#include <QFontMetrics>

namespace {

// Whether a cut before `at` would split a surrogate pair.
bool splitsCharacter(const QString &text, int at)
{
    return at > 0 && at < text.size() && text.at(at).isLowSurrogate();
}

} // namespace

QString elideNameMiddle(const QString &name, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(name) <= width)
        return name;
    const QString ellipsis(QChar(0x2026));
    const int room = width - metrics.horizontalAdvance(ellipsis);

    // The longest start within a quarter of the room, then the longest end
    // in what is left, measured on the whole for kerning across the joins.
    int start = 0;
    while (start < name.size() && metrics.horizontalAdvance(name.left(start + 1)) <= room / 4)
        ++start;
    if (splitsCharacter(name, start))
        --start;
    int end = 0;
    while (start + end < name.size()
           && metrics.horizontalAdvance(name.left(start) + ellipsis + name.right(end + 1)) <= width)
        ++end;
    if (splitsCharacter(name, name.size() - end))
        --end;
    return name.left(start) + ellipsis + name.right(end);
}
