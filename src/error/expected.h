// A value or the error that kept it from being made, in the shape of C++23's
// std::expected, which this compiler's library does not have yet. No Qt.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace kelmo {

// NOLINTBEGIN(readability-identifier-naming): std::expected's names, so that the code
// moves to it unchanged
template <typename T, typename E>
class [[nodiscard]] Expected {
  static_assert(!std::is_same_v<T, E>, "a value and an error of one type cannot be told apart");

 public:
  Expected(T value) : m_state(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Expected(E error) : m_state(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool has_value() const { return m_state.index() == 0; }
  explicit operator bool() const { return has_value(); }

  const T& value() const& { return std::get<0>(m_state); }
  T&& value() && { return std::get<0>(std::move(m_state)); }
  const T& operator*() const& { return value(); }
  const T* operator->() const { return &value(); }
  const E& error() const { return std::get<1>(m_state); }

 private:
  std::variant<T, E> m_state;
};

// Success with nothing to give, or an error.
template <typename E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  Expected(E error) : m_error(std::move(error)), m_failed(true) {}  // NOLINT: implicit

  bool has_value() const { return !m_failed; }
  explicit operator bool() const { return has_value(); }
  const E& error() const { return m_error; }

 private:
  E m_error{};
  bool m_failed = false;
};

// NOLINTEND(readability-identifier-naming)

}  // namespace kelmo
