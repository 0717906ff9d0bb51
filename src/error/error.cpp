#include "error/error.h"

namespace kelmo {

// The number is a sentence of its own: a screen reader's synthesizer pauses after it
// rather than running it into a path or a word that follows ("2010/usr/sbin/sendmail").
QString ErrorBoxText(const Error& error) {
  return QString::number(error.number) + QChar(u'。') + QLatin1Char('\r') + error.description;
}

}  // namespace kelmo
