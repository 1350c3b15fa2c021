#include "modulelogic.h"

namespace {

QString bitsText(const std::array<bool, 5> &bits)
{
    QString text;
    for (bool on : bits)
        text += on ? QLatin1Char('1') : QLatin1Char('0');
    return text;
}

bool inRange(int channel, int first, int last)
{
    return channel >= first && channel <= last;
}

} // namespace

int ModuleLogic::matchFrame(const QByteArray &buffer)
{
    if (buffer.isEmpty())
        return 0;
    if (buffer.at(0) != '~')
        return -1;
    if (buffer.size() < 2)
        return 0;

    int length = 0;
    char low = 0;
    char high = 0;
    switch (buffer.at(1)) {
    case 'A':
    case 'I':
        return 2;
    case 'P':
        length = 7, low = '0', high = '1';
        break;
    case 'S':
    case 'R':
        length = 3, low = '1', high = '5';
        break;
    default:
        return -1;
    }
    for (int i = 2; i < qMin(length, buffer.size()); ++i) {
        if (buffer.at(i) < low || buffer.at(i) > high)
            return -1;
    }
    return buffer.size() >= length ? length : 0;
}

QList<QByteArray> ModuleLogic::feed(const QByteArray &bytes)
{
    pending_ += bytes;
    QList<QByteArray> pieces;
    while (!pending_.isEmpty()) {
        int length = matchFrame(pending_);
        if (length == 0)
            break;
        if (length < 0) {
            const int next = pending_.indexOf('~', 1);
            length = next < 0 ? pending_.size() : next;
        }
        pieces.append(pending_.left(length));
        pending_.remove(0, length);
    }
    return pieces;
}

void ModuleLogic::discardPartialFrame()
{
    pending_.clear();
}

bool ModuleLogic::isFrame(const QByteArray &bytes)
{
    return !bytes.isEmpty() && matchFrame(bytes) == bytes.size();
}

QByteArray ModuleLogic::answer(const QByteArray &frame)
{
    apply(frame);
    return reply(frame);
}

void ModuleLogic::apply(const QByteArray &frame)
{
    if (!isFrame(frame))
        return;
    switch (frame.at(1)) {
    case 'P':
        for (int i = 0; i < 5; ++i)
            outputs_[i] = frame.at(2 + i) == '1';
        break;
    case 'S':
    case 'R':
        setOutput(frame.at(2) - '0', frame.at(1) == 'S');
        break;
    default:
        break;
    }
}

QByteArray ModuleLogic::reply(const QByteArray &frame) const
{
    const bool outputFrame = isFrame(frame) && QByteArray("PSR").contains(frame.at(1));
    if (frame == "~A" || (outputFrame && answersOutputs_))
        return "~A" + inputsText().toLatin1();
    if (frame == "~I") {
        QByteArray text = firmware_;
        text.append(FirmwareTextSize - text.size(), '\0');
        return "~I" + text;
    }
    return {};
}

bool ModuleLogic::input(int channel) const
{
    return inRange(channel, FirstInput, LastInput) && inputs_[channel - FirstInput];
}

void ModuleLogic::setInput(int channel, bool on)
{
    if (inRange(channel, FirstInput, LastInput))
        inputs_[channel - FirstInput] = on;
}

bool ModuleLogic::output(int channel) const
{
    return inRange(channel, FirstOutput, LastOutput) && outputs_[channel - FirstOutput];
}

void ModuleLogic::setOutput(int channel, bool on)
{
    if (inRange(channel, FirstOutput, LastOutput))
        outputs_[channel - FirstOutput] = on;
}

QString ModuleLogic::inputsText() const
{
    return bitsText(inputs_);
}

QString ModuleLogic::outputsText() const
{
    return bitsText(outputs_);
}

bool ModuleLogic::answersOutputs() const
{
    return answersOutputs_;
}

void ModuleLogic::setAnswersOutputs(bool on)
{
    answersOutputs_ = on;
}

QByteArray ModuleLogic::firmwareVersion() const
{
    return firmware_;
}

void ModuleLogic::setFirmwareVersion(const QByteArray &version)
{
    firmware_ = version.left(FirmwareTextSize);
}
