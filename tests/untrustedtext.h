#ifndef UNTRUSTEDTEXT_H
#define UNTRUSTEDTEXT_H

#include <QByteArray>
#include <QList>
#include <QString>

// Text that would act on a terminal printed raw, and how every program quotes it.
struct UntrustedText
{
    QByteArray text;
    QString shown;
    // Invalid UTF-8 reaches serve as U+FFFD; only the bridge quotes its bytes.
    bool validUtf8;
};

inline QList<UntrustedText> untrustedTexts()
{
    return {
        // Retitles the window and clears the screen.
        {"\x1b]0;pwned\x07\x1b[2J3", "\\x1b]0;pwned\\x07\\x1b[2J3", true},
        // The one-byte CSI as UTF-8, DEL and a backspace.
        {"\302\2332J\177\b", "\\u009b2J\\x7f\\x08", true},
        // A quote that would end the quoting, a backslash that would pass for an escape.
        {"\x1b'\\", "\\x1b\\'\\\\", true},
        // Right-to-left override: the rest of the line would read backwards.
        {"\342\200\2563", "\\u202e3", true},
        {"\xff\xc3(", "\\xff\\xc3(", false},
    };
}

#endif // UNTRUSTEDTEXT_H
