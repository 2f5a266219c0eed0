// Errors are values: every fallible operation returns a Result<T> holding
// either its value or an Error. The type is a small stand-in for
// std::expected, which the fuzzing compiler's standard library lacks.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

#include "base/error.hpp"

namespace diagpack {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() {
    assert(ok());
    return std::get<0>(state_);
  }
  const T& value() const {
    assert(ok());
    return std::get<0>(state_);
  }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const {
    assert(!ok());
    return std::get<1>(state_);
  }
  Error take_error() {
    assert(!ok());
    return std::move(std::get<1>(state_));
  }

 private:
  std::variant<T, Error> state_;
};

// Success or one error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    assert(failed_);
    return error_;
  }
  Error take_error() {
    assert(failed_);
    return std::move(error_);
  }

 private:
  Error error_;
  bool failed_ = false;
};

}  // namespace diagpack
