// Error classes shared by every part of the runtime.
#pragma once

#include <exception>
#include <string>

#include "zorvex/Export.h"

namespace zorvex {

// Base of every error the runtime raises. The message is mutable because
// callers such as user-function evaluation append context to it in flight.
class ZORVEX_API Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }

private:
    std::string message_;
};

// Internal invariant violated; correct callers never see it.
class ZORVEX_API EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Platform-style errors of values and numeric routines.
class ZORVEX_API EVariantError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EConvertError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EMathError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EZeroDivide : public EMathError { public: using EMathError::EMathError; };
class ZORVEX_API EOverflow : public EMathError { public: using EMathError::EMathError; };
class ZORVEX_API EInvalidOp : public EMathError { public: using EMathError::EMathError; };
class ZORVEX_API EDivByZero : public Exception { public: using Exception::Exception; };
class ZORVEX_API EIntOverflow : public Exception { public: using Exception::Exception; };
class ZORVEX_API ERangeError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EListError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EInvalidCast : public Exception { public: using Exception::Exception; };
class ZORVEX_API EStreamError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EFileError : public EStreamError { public: using EStreamError::EStreamError; };
// The system gave no more memory ("Out of memory"); what the budget allows
// was more than the machine had.
class ZORVEX_API EOutOfMemory : public Exception { public: using Exception::Exception; };

// An evaluation stopped from outside: by TMathInterpreter::Interrupt or at
// one of its budgets. Execute passes it on even with an error list.
class ZORVEX_API EInterrupted : public Exception {
public:
    enum Cause { Request, TimeLimit, StepLimit };
    EInterrupted(Cause cause, std::string message) : Exception(std::move(message)), cause_(cause) {}
    Cause Reason() const noexcept { return cause_; }

private:
    Cause cause_;
};

// Raises EAssertionFailed naming the unit, e.g. "Source/MathItem".
[[noreturn]] ZORVEX_API void AssertionFailed(const char* unit, const char* what);

}  // namespace zorvex

#define ZORVEX_ASSERT(cond, unit)                                  \
    do {                                                           \
        if (!(cond)) ::zorvex::AssertionFailed(unit, #cond);       \
    } while (0)
