#pragma once

#include <QString>

// One thing the operator asked for while the simulator runs.
struct InputCommand
{
    enum Kind {
        None,    // nothing to do (empty line)
        Invalid, // not understood; `text` says why
        Set,     // switch `channel` to `on`
        Toggle,  // toggle `channel`
        SetAll,  // set inputs 6..10 to `text` ("10101")
        Help,
        Quit,
    };

    Kind kind = None;
    int channel = 0;
    bool on = false;
    QString text;

    // A line on standard input: "6 on", "10 off", "toggle 7", "7",
    // "inputs 10101", "help", "quit".
    static InputCommand fromLine(const QString &line);

    // A key on the terminal: '6'..'9' and '0' toggle inputs 6..10, 'q' quits,
    // 'h' or '?' shows the keys; anything else does nothing.
    static InputCommand fromKey(char key);
};
