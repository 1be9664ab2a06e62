// SPDX-License-Identifier: GPL-3.0-or-later
// Exception classes shared by every part of Murmelin.
#pragma once

#include <exception>
#include <string>

namespace murmelin {

// Base of every error the program raises; carries the message text (UTF-8).
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : fmessage(std::move(message)) {}
  const char* what() const noexcept override { return fmessage.c_str(); }
  const std::string& Message() const noexcept { return fmessage; }

private:
  std::string fmessage;
};

// Conversion of text to a number failed.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// An index or value outside its allowed range.
class ERangeError : public Exception {
public:
  ERangeError() : Exception("Range check error") {}
  using Exception::Exception;
};

// 32-bit signed integer arithmetic left its range.
class EIntOverflow : public Exception {
public:
  EIntOverflow() : Exception("Integer overflow") {}
  using Exception::Exception;
};

// Floating-point errors: overflow, division by zero, invalid operation.
class EMathError : public Exception {
public:
  using Exception::Exception;
};

class EOverflow : public EMathError {
public:
  EOverflow() : EMathError("Floating point overflow") {}
  using EMathError::EMathError;
};

class EZeroDivide : public EMathError {
public:
  EZeroDivide() : EMathError("Floating point division by zero") {}
  using EMathError::EMathError;
};

class EInvalidOp : public EMathError {
public:
  EInvalidOp() : EMathError("Invalid floating point operation") {}
  using EMathError::EMathError;
};

// A file could not be created, read or written.
class EInOutError : public Exception {
public:
  using Exception::Exception;
};

// A list was indexed outside its items.
class EListError : public Exception {
public:
  using Exception::Exception;
  static EListError index_error(long long index);
};

}  // namespace murmelin
