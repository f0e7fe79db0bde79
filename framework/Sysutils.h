// Exceptions and text helpers of the runtime the units stand on.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

// The framework's base exception: a message text and a class name for reports.
class Exception : public std::exception {
public:
  explicit Exception(std::string message = {}) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

  std::string Message;
};

#define CORVANE_EXCEPTION_CLASS(Name, Base)                                                        \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
    const char* ClassName() const noexcept override { return #Name; }                              \
  }

// Dropped silently by the application object instead of being shown.
CORVANE_EXCEPTION_CLASS(EAbort, Exception);
// Text that is no integer: "'%s' is not a valid integer value".
CORVANE_EXCEPTION_CLASS(EConvertError, Exception);
CORVANE_EXCEPTION_CLASS(EInvalidOperation, Exception);
CORVANE_EXCEPTION_CLASS(EStreamError, Exception);
// "Cannot create file %s" and "Cannot open file %s": separate classes, neither catches the other.
CORVANE_EXCEPTION_CLASS(EFCreateError, EStreamError);
CORVANE_EXCEPTION_CLASS(EFOpenError, EStreamError);
CORVANE_EXCEPTION_CLASS(EReadError, EStreamError);
// "Cannot write file %s": it keeps the system's reason, the thread's last error when it is raised
// (where a failed write leaves it; 0: none known).
class EWriteError : public EStreamError {
public:
  explicit EWriteError(std::string message);
  EWriteError(std::string message, unsigned long systemError)
      : EStreamError(std::move(message)), SystemError(systemError) {}
  const char* ClassName() const noexcept override { return "EWriteError"; }

  unsigned long SystemError;
};
CORVANE_EXCEPTION_CLASS(EStringListError, Exception);

// The runtime's range-check error.
class ERangeError : public Exception {
public:
  ERangeError() : Exception("Range check error") {}
  explicit ERangeError(std::string message) : Exception(std::move(message)) {}
  const char* ClassName() const noexcept override { return "ERangeError"; }
};

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string IntToStr(long long value);
// Decimal (optionally signed, leading blanks allowed) or "$"/"0x" hexadecimal, 32-bit signed;
// anything else raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// ASCII-only case conversions, as the runtime's UpperCase/LowerCase.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
// Case-insensitive comparison: <0, 0 or >0.
int AnsiCompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
std::string Trim(const std::string& s);

// The value of an environment variable (name matched without regard to case), or empty text.
std::string GetEnvVariable(const std::string& name);

// Runs f when the scope ends, also by an exception; an exception from f itself is swallowed.
template <class F> class TFinally {
public:
  explicit TFinally(F f) : f_(std::move(f)) {}
  ~TFinally() {
    try {
      f_();
    } catch (...) {
    }
  }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

private:
  F f_;
};
