#include "error/error.h"

namespace kelmo {

QString ErrorBoxText(const Error& error) {
  return QString::number(error.number) + QLatin1Char('\r') + error.description;
}

}  // namespace kelmo
