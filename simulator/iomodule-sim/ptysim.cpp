#include "ptysim.h"

PtySim::PtySim(QObject *parent)
    : SimModule(parent)
{
    // Runs on PtyModule's serving thread, after the frame was applied; the
    // signal reaches the receivers' thread queued.
    module_.setResponder([this](const QByteArray &frame) {
        emit frameReceived(frame, module_.outputs(), inputsText());
        const QByteArray answer = module_.defaultReply(frame);
        return answer.isEmpty() ? PtyModule::Reply() : PtyModule::Reply{{0, answer}};
    });
}

PtySim::~PtySim()
{
    module_.setResponder({});
    // Stops the serving thread, which may still be inside the responder it
    // copied, before chaos_ and this object go.
    module_.unplug();
}

void PtySim::startChaos(quint32 seed, int repeatEvery)
{
    chaos_ = std::make_unique<Chaos>(module_, seed, repeatEvery);
    connect(chaos_.get(), &Chaos::noted, this, &SimModule::noted);
    connect(chaos_.get(), &Chaos::portChanged, this, &SimModule::portChanged);
    module_.setResponder([this](const QByteArray &frame) {
        emit frameReceived(frame, module_.outputs(), inputsText());
        return chaos_->respond();
    });
}

QString PtySim::portName() const
{
    return module_.portName();
}

bool PtySim::input(int channel) const
{
    return module_.input(channel);
}

void PtySim::setInput(int channel, bool on)
{
    module_.setInput(channel, on);
}

void PtySim::setFirmwareVersion(const QByteArray &version)
{
    module_.setFirmwareVersion(version);
}

void PtySim::setAnswersOutputs(bool on)
{
    module_.setAnswersOutputs(on);
}
