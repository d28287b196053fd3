// NSException: the exception class that platform operations raise on failure.
//
// Every operation of the host platform layer that fails the way the phone
// platform's would (a message the receiver does not understand, a missing
// instance variable, a value of the wrong kind) throws an NSException or a
// subclass of it. The library's guard (guard.h) catches exactly this class and
// lets every other exception type pass.
#pragma once

#include <stdexcept>
#include <string>

class NSException : public std::runtime_error {
 public:
  NSException(std::string name, const std::string& reason)
      : std::runtime_error(reason), name_(std::move(name)) {}

  // The platform's exception name, such as "NSInvalidArgumentException".
  const std::string& name() const { return name_; }
  const char* reason() const { return what(); }

 private:
  std::string name_;
};

// Raised for a message the receiver does not understand.
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
// Raised for an out-of-range position or length.
inline constexpr const char* NSRangeException = "NSRangeException";
// Raised when a key or instance variable does not exist on the receiver.
inline constexpr const char* NSUndefinedKeyException = "NSUnknownKeyException";
