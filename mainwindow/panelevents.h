#ifndef PANELEVENTS_H
#define PANELEVENTS_H

#include <QString>

// Told what the window does, for whoever keeps a record of it. All calls come
// on the GUI thread, right as the window does each thing (a frame once the
// worker has taken it up for the line).
class PanelEvents
{
public:
    virtual ~PanelEvents() = default;
    virtual void lampSet(int channel, bool on) = 0;              // every lamp drawn, inputs 6 to 10
    virtual void frameSent(const QString &frame) = 0;            // every command frame the worker took up
    virtual void statusMessageShown(const QString &message) = 0; // every status-bar message
};

#endif // PANELEVENTS_H
