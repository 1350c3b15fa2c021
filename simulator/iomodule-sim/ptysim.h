#pragma once

#include <memory>

#include "chaos.h"
#include "ptymodule.h"
#include "simmodule.h"

// The module served on a new pseudo-terminal by PtyModule, the same stand-in
// the tests use. PtyModule applies each frame to its state itself; the
// responder here only reports the frame and sends the module's own answer,
// or in chaos mode what Chaos picks instead.
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

    // From now on every frame gets a Chaos answer drawn from `seed` instead
    // of the module's own; lost lines come back on new paths (portChanged()).
    // With `repeatEvery` > 0 the events start over from the seed after that many.
    void startChaos(quint32 seed, int repeatEvery = 0);

private:
    PtyModule module_;
    std::unique_ptr<Chaos> chaos_; // after module_: goes first, while module_ is still there
};
