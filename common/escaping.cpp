#include "escaping.h"

#include <QChar>

namespace {

void appendHex(QString &text, const char *prefix, uint value, int digits)
{
    text += QLatin1String(prefix) + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0'));
}

// The length of the valid UTF-8 sequence at `at` and its code point, or 0
// for a byte that starts none: a stray continuation byte, a sequence cut
// short, an overlong form, a surrogate or a code point past U+10FFFF.
int decodeAt(const QByteArray &text, int at, uint &codePoint)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    int length;
    uint minimum;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1fu;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0fu;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xc0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3fu);
    }
    if (codePoint < minimum || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
        return 0;
    return length;
}

bool isShownAsItIs(uint codePoint)
{
    if (codePoint >= 0x80 && codePoint <= 0x9f)
        return false;
    if ((codePoint & 0xfffe) == 0xfffe || (codePoint >= 0xfdd0 && codePoint <= 0xfdef))
        return false; // noncharacters
    switch (QChar::category(codePoint)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

} // namespace

QString escaped(const QByteArray &text, char quote)
{
    QString shown;
    shown.reserve(text.size());
    for (int at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x80) {
            uint codePoint = 0;
            const int length = decodeAt(text, at, codePoint);
            if (length == 0)
                appendHex(shown, "\\x", c, 2);
            else if (isShownAsItIs(codePoint))
                shown += QString::fromUtf8(text.constData() + at, length);
            else
                appendHex(shown, codePoint > 0xffff ? "\\U" : "\\u", codePoint, codePoint > 0xffff ? 8 : 4);
            at += length == 0 ? 1 : length;
            continue;
        }
        if (c == '\n')
            shown += QLatin1String("\\n");
        else if (c == '\r')
            shown += QLatin1String("\\r");
        else if (c == '\t')
            shown += QLatin1String("\\t");
        else if (c < 0x20 || c == 0x7f)
            appendHex(shown, "\\x", c, 2);
        else if (c == '\\' || (quote != '\0' && c == static_cast<unsigned char>(quote)))
            shown += QLatin1Char('\\') + QString(QLatin1Char(static_cast<char>(c)));
        else
            shown += QLatin1Char(static_cast<char>(c));
        ++at;
    }
    return shown;
}

QString escaped(const QString &text, char quote)
{
    return escaped(text.toUtf8(), quote);
}

QString quoted(const QByteArray &text, char quote, int limit)
{
    const QString mark(QLatin1Char{quote});
    return mark + escaped(text.left(limit), quote) + mark
        + (text.size() > limit ? QStringLiteral("...") : QString());
}
