// Every failure the window shows: a number the user can look up and a description
// naming what failed. Each module numbers its own failures; errno values pass through.
#pragma once

#include <QString>
#include <type_traits>

#include "error/expected.h"

namespace kelmo {

struct Error {
  Error() = default;
  // errno, or a number of our own when it is not one of a module's scoped enums.
  Error(int errorNumber, QString text) : number(errorNumber), description(std::move(text)) {}
  template <typename Number>
  requires std::is_enum_v<Number> Error(Number errorNumber, QString text)
      : number(static_cast<int>(errorNumber)), description(std::move(text)) {}

  int number = 0;
  QString description;
};

// A value or the Error that kept it from being made; Result<> for an action.
template <typename T = void>
using Result = Expected<T, Error>;

// The text of the message box: the number and a full stop (。), a CR, then the description.
QString ErrorBoxText(const Error& error);

}  // namespace kelmo
