// Error classes shared by every part of the runtime.
#include "zorvex/Exception.h"

#include <utility>

namespace zorvex {

Exception::Exception(std::string message) : message_(std::move(message)) {}
Exception::Exception(std::string message, int position) : message_(std::move(message)), position_(position) {}
Exception::Exception(const Exception& other) = default;
Exception& Exception::operator=(const Exception& other) = default;
Exception::~Exception() = default;

const char* Exception::what() const noexcept { return message_.c_str(); }
const std::string& Exception::Message() const noexcept { return message_; }
void Exception::SetMessage(std::string message) { message_ = std::move(message); }

int Exception::Position() const noexcept { return position_; }
int Exception::ExpressionIndex() const noexcept { return expressionIndex_; }
void Exception::SetPosition(int position) noexcept { position_ = position; }
void Exception::SetExpressionIndex(int index) noexcept { expressionIndex_ = index; }
// A stopped evaluation stopped wherever it was checked: no item caused it.
void Exception::Locate(int position) noexcept {
    if (position_ == 0 && dynamic_cast<const EInterrupted*>(this) == nullptr) position_ = position;
}

EInterrupted::EInterrupted(Cause cause, std::string message) : ELimitError(std::move(message)), cause_(cause) {}
EInterrupted::Cause EInterrupted::Reason() const noexcept { return cause_; }

void AssertionFailed(const char* unit, const char* what) {
    throw EAssertionFailed(std::string("Assertion failed (") + (unit ? unit : "") + "): " +
                           (what ? what : ""));
}

}  // namespace zorvex
