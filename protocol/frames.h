#ifndef FRAMES_H
#define FRAMES_H

#include <QList>
#include <QPair>
#include <QString>

// The command frames sent to the module: "~", an upper-case letter and its
// operands, plain ASCII with no terminator. Outputs are numbered 1 to 5.
namespace Frames {

QString queryInputs();                    // "~A"
QString setAllOutputs(const QString &on); // "~P" and five digits "0"/"1", output 1 first
QString setOutput(int channel);           // "~S" and the digit
QString resetOutput(int channel);         // "~R" and the digit

// Five digits, each "0" or "1": what setAllOutputs() takes.
bool isOutputDigits(const QString &digits);

// The output states a frame carries, as (output 1..5, on) pairs in frame
// order; none for "~A" or anything that is not a well-formed output frame.
QList<QPair<int, bool>> outputsCarried(const QString &frame);

} // namespace Frames

#endif // FRAMES_H
