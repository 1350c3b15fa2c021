#pragma once

#include "ptymodule.h"
#include "simmodule.h"

// The module served on a new pseudo-terminal by PtyModule, the same stand-in
// the tests use. PtyModule applies each frame to its state itself; the
// responder here only reports the frame and sends the module's own answer.
class PtySim : public SimModule
{
    Q_OBJECT

public:
    explicit PtySim(QObject *parent = nullptr);
    ~PtySim() override;

    QString portName() const override; // empty if no pseudo-terminal could be opened
    bool input(int channel) const override;
    void setInput(int channel, bool on) override;
    void setFirmwareVersion(const QByteArray &version) override;
    void setAnswersOutputs(bool on) override;

private:
    PtyModule module_;
};
