// Helpers shared by the test files.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "zorvex/Exception.h"
#include "zorvex/Variant.h"

namespace zorvex::testing {

// A value as a failure message shows it, with its kind where it matters.
inline std::string Show(const Variant& v) {
    switch (v.Kind()) {
        case VarKind::Empty: return "<Empty>";
        case VarKind::Null: return "<Null>";
        case VarKind::String: return "'" + v.AsString() + "'";
        case VarKind::Array: return "<Array>";
        default: return VarToStr(v) + (v.IsReal() ? " (real)" : "");
    }
}

// Message of the zorvex::Exception raised by `f`; assertion failures and
// foreign exceptions are marked so they never pass for an expected message.
template <typename F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const EAssertionFailed& e) {
        return std::string("<assertion> ") + e.what();
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return std::string("<std::exception> ") + e.what();
    }
    return "<no exception>";
}

}  // namespace zorvex::testing

#define EXPECT_VALUE(expr, expected)                                                  \
    do {                                                                              \
        const ::zorvex::Variant actual_ = (expr);                                     \
        const ::zorvex::Variant expected_ = (expected);                               \
        EXPECT_TRUE(actual_.SameAs(expected_))                                        \
            << ::zorvex::testing::Show(actual_) << " vs " << ::zorvex::testing::Show(expected_); \
    } while (0)

#define EXPECT_ERROR(stmt, message)                                     \
    do {                                                                \
        try {                                                           \
            stmt;                                                       \
            ADD_FAILURE() << "no exception; expected: " << (message);   \
        } catch (const ::zorvex::Exception& e_) {                       \
            EXPECT_EQ(e_.Message(), std::string(message));              \
        }                                                               \
    } while (0)
