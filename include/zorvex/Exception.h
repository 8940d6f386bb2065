// Error classes shared by every part of the runtime.
#pragma once

#include <exception>
#include <string>

#include "zorvex/Export.h"

namespace zorvex {

// Base of every error the runtime raises. The message is mutable because
// callers such as user-function evaluation append context to it in flight.
// Where the error stands: Position() is the 1-based character position the
// message states (the first one, when it states several), or, when it
// states none, that of the item that raised it; 0 when none is known.
// ExpressionIndex() is the 0-based index of the failing expression among
// those an Execute ran (a single expression is 0); -1 when the error is no
// expression's. Members are out of line, so the layout may grow behind them.
class ZORVEX_API Exception : public std::exception {
public:
    explicit Exception(std::string message);
    Exception(std::string message, int position);
    Exception(const Exception& other);
    Exception& operator=(const Exception& other);
    ~Exception() override;

    const char* what() const noexcept override;
    const std::string& Message() const noexcept;
    void SetMessage(std::string message);

    int Position() const noexcept;
    int ExpressionIndex() const noexcept;
    void SetPosition(int position) noexcept;
    void SetExpressionIndex(int index) noexcept;
    // Sets the position unless one is known already (the innermost item
    // that saw the error knows best) or the error is an EInterrupted.
    void Locate(int position) noexcept;

private:
    std::string message_;
    int position_ = 0;
    int expressionIndex_ = -1;
};

// Internal invariant violated; correct callers never see it.
class ZORVEX_API EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// The kinds of error. Each class below derives from one of them, so a host
// catches a kind without knowing its members.

// The text is no expression: tokens, brackets, operands, definitions.
class ZORVEX_API ESyntaxError : public Exception { public: using Exception::Exception; };
// A name the symbol table does not hold and no handler answered.
class ZORVEX_API EUnknownName : public Exception { public: using Exception::Exception; };
// A value of the wrong kind, a conversion that fails, a call with the wrong
// number of arguments.
class ZORVEX_API ETypeError : public Exception { public: using Exception::Exception; };
// Arithmetic outside its domain or range.
class ZORVEX_API EArithmeticError : public Exception { public: using Exception::Exception; };
// A limit reached (nesting, stack, memory, text length) or an evaluation
// stopped from outside.
class ZORVEX_API ELimitError : public Exception { public: using Exception::Exception; };

// Platform-style errors of values and numeric routines.
class ZORVEX_API EVariantError : public ETypeError { public: using ETypeError::ETypeError; };
class ZORVEX_API EConvertError : public ETypeError { public: using ETypeError::ETypeError; };
class ZORVEX_API EMathError : public EArithmeticError { public: using EArithmeticError::EArithmeticError; };
class ZORVEX_API EZeroDivide : public EMathError { public: using EMathError::EMathError; };
class ZORVEX_API EOverflow : public EMathError { public: using EMathError::EMathError; };
class ZORVEX_API EInvalidOp : public EMathError { public: using EMathError::EMathError; };
class ZORVEX_API EDivByZero : public EArithmeticError { public: using EArithmeticError::EArithmeticError; };
class ZORVEX_API EIntOverflow : public EArithmeticError { public: using EArithmeticError::EArithmeticError; };
class ZORVEX_API ERangeError : public EArithmeticError { public: using EArithmeticError::EArithmeticError; };
class ZORVEX_API EListError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EInvalidCast : public ETypeError { public: using ETypeError::ETypeError; };
// Streams and files are the file kind.
class ZORVEX_API EStreamError : public Exception { public: using Exception::Exception; };
class ZORVEX_API EFileError : public EStreamError { public: using EStreamError::EStreamError; };
// The system gave no more memory ("Out of memory"); what the budget allows
// was more than the machine had.
class ZORVEX_API EOutOfMemory : public ELimitError { public: using ELimitError::ELimitError; };

// An evaluation stopped from outside: by TMathInterpreter::Interrupt or at
// one of its budgets. Execute passes it on even with an error list.
class ZORVEX_API EInterrupted : public ELimitError {
public:
    enum Cause { Request, TimeLimit, StepLimit };
    EInterrupted(Cause cause, std::string message);
    Cause Reason() const noexcept;

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
