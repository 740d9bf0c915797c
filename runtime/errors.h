// The system's exception tree. Every failure below the batch driver is one of
// these; the driver's error report shows the class name, the message and the
// code address where it was raised.
#pragma once

#include <exception>
#include <string>

namespace shrinkwell {

// Returns an address inside the calling function. Used as a default argument,
// so it is evaluated at the throw site and names where an error arose.
const void* CodeAddressHere();

// printf-style formatting into a std::string.
std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, const void* at = CodeAddressHere())
      : message_(std::move(message)), at_(at) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  const void* Address() const { return at_; }
  virtual const char* ClassName() const = 0;

 private:
  std::string message_;
  const void* at_;
};

#define SHRINKWELL_EXCEPTION(Name, Base)                           \
  class Name : public Base {                                       \
   public:                                                         \
    using Base::Base;                                              \
    const char* ClassName() const override { return #Name; }       \
  }

SHRINKWELL_EXCEPTION(EOSError, Exception);
SHRINKWELL_EXCEPTION(EInvalidOperation, Exception);
SHRINKWELL_EXCEPTION(EOutOfResources, Exception);
SHRINKWELL_EXCEPTION(EInvalidGraphic, Exception);
SHRINKWELL_EXCEPTION(EInvalidGraphicOperation, Exception);
SHRINKWELL_EXCEPTION(EStreamError, Exception);
SHRINKWELL_EXCEPTION(EFOpenError, EStreamError);
SHRINKWELL_EXCEPTION(EFCreateError, EStreamError);
SHRINKWELL_EXCEPTION(EReadError, EStreamError);
SHRINKWELL_EXCEPTION(EWriteError, EStreamError);
// Raised by a progress observer to stop a decoding or encoding quietly.
SHRINKWELL_EXCEPTION(EAbort, Exception);

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(const void* at = CodeAddressHere())
      : Exception("Zu wenig Arbeitsspeicher", at) {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// Failure of a console read or write; code is the platform's error code.
class EInOutError : public Exception {
 public:
  explicit EInOutError(int code, const void* at = CodeAddressHere());
  const char* ClassName() const override { return "EInOutError"; }
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

// A fatal error of the JPEG library; code is the library's message code.
class EJPEG : public Exception {
 public:
  explicit EJPEG(int code, const void* at = CodeAddressHere())
      : Exception(Format("JPEG-Fehler #%d", code), at), code_(code) {}
  const char* ClassName() const override { return "EJPEG"; }
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

}  // namespace shrinkwell
