// Error classes shared by every part of the runtime.
#include "zorvex/Exception.h"

namespace zorvex {

void AssertionFailed(const char* unit, const char* what) {
    throw EAssertionFailed(std::string("Assertion failed (") + (unit ? unit : "") + "): " +
                           (what ? what : ""));
}

}  // namespace zorvex
