// SPDX-License-Identifier: GPL-3.0-or-later
// The one way a function says it failed: a value or the error that kept it from being made,
// which the caller cannot drop unread.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "base/error.h"

namespace base {

// An error on its way into a Result; `failure(e)` makes one.
template <class E>
struct Failure {
  E error;
};

template <class E>
Failure<std::decay_t<E>> failure(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : held_(std::in_place_index<0>, std::move(value)) {}
  template <class F>
  Result(Failure<F> failed) : held_(std::in_place_index<1>, std::move(failed.error)) {}

  bool ok() const { return held_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() { return std::get<0>(held_); }
  const T& value() const { return std::get<0>(held_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const E& error() const { return std::get<1>(held_); }

 private:
  std::variant<T, E> held_;
};

// Success, or the error.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  template <class F>
  Result(Failure<F> failed) : error_(std::move(failed.error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const E& error() const { return *error_; }

 private:
  std::optional<E> error_;
};

// Success, or the error that says why not.
using Status = Result<void, Error>;

// A failure made here, with the exit status it earns: the input or the system let the step
// down (failed), or the command asked for what cannot be (usage).
inline Failure<Error> failed(std::string message) {
  return {Error{ExitStatus::failed, std::move(message)}};
}
inline Failure<Error> usage(std::string message) {
  return {Error{ExitStatus::usage, std::move(message)}};
}

}  // namespace base
