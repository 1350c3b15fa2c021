#ifndef SCREENREADER_H
#define SCREENREADER_H

class MainWindowForm;
class QCheckBox;
class QLabel;

// What a screen reader says about the window: the output boxes and the lamps
// are named ("Output 1", "Input 6"), each lamp's description and tool tip give
// its state, "unknown" until its first report, and the status bar's name is
// its current message. The texts translate in the window's context.
void nameForScreenReaders(MainWindowForm &form);

// Gives lamp `channel` the state "on" or "off" in its description and tool
// tip; a change is announced to screen readers.
void describeLampState(QLabel *lamp, int channel, bool on);
// The same for a lamp whose input nobody knows: "unknown".
void describeLampUnknown(QLabel *lamp, int channel);
// An output box whose state nobody knows has the description "unknown"
// (its check mark is only what it was); one known has none.
void describeOutputKnown(QCheckBox *box, int output, bool known);

#endif // SCREENREADER_H
