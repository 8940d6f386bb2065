// The two engines of the prepared comparisons, set up alike: a, b and c
// defined, the expression prepared, and the three variables written before
// every evaluation (by handle in zorvex, through the bound doubles in
// muparser).
#pragma once

#include <muParser.h>

#include "zorvex/MathInterpreter.h"

namespace bench {

struct ZorvexPrepared {
    zorvex::TMathInterpreter interp;
    int handle, ha, hb, hc;
    explicit ZorvexPrepared(const char* text) {
        interp.Execute("a = 1.5; b = 2.5; c = 3.5");
        ha = interp.GetVariableHandles("a");
        hb = interp.GetVariableHandles("b");
        hc = interp.GetVariableHandles("c");
        handle = interp.PrepareExpression(text);
    }
    double Run(double a, double b, double c) {
        interp.SetVariablesByHandle(ha, a);
        interp.SetVariablesByHandle(hb, b);
        interp.SetVariablesByHandle(hc, c);
        return zorvex::VarToReal(interp.ExecutePreparedExpression(handle));
    }
};

struct MuPrepared {
    mu::Parser parser;
    double a = 1.5, b = 2.5, c = 3.5;
    // `define` adds what the expression needs beside the variables.
    template <class Define = void (*)(mu::Parser&)>
    explicit MuPrepared(const char* text, Define define = [](mu::Parser&) {}) {
        define(parser);
        parser.DefineVar("a", &a);
        parser.DefineVar("b", &b);
        parser.DefineVar("c", &c);
        parser.SetExpr(text);
        parser.Eval();  // the first evaluation compiles the bytecode
    }
    double Run(double x, double y, double z) {
        a = x;
        b = y;
        c = z;
        return parser.Eval();
    }
};

}  // namespace bench
