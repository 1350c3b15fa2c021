#ifndef SCREENREADER_H
#define SCREENREADER_H

class MainWindowForm;
class QLabel;

// What a screen reader says about the window: the output boxes and the lamps
// are named ("Output 1", "Input 6"), each lamp's description and tool tip give
// its state, "unknown" until its first report, and the status bar's name is
// its current message. The texts translate in the window's context.
void nameForScreenReaders(MainWindowForm &form);

// Gives lamp `channel` the state "on" or "off" in its description and tool
// tip; a change is announced to screen readers.
void describeLampState(QLabel *lamp, int channel, bool on);

#endif // SCREENREADER_H
