// Internal: a register program assembled into x86-64 machine code. Each
// instruction becomes the few machine instructions that do its work, with
// the accumulator in a register, the registers on the machine stack, the
// guards as compares with the variables' kinds and every way to give up one
// jump to a shared exit that answers NaN, exactly as the handlers do. Code is
// written into pages of its own that are made executable, and never
// writable again, before it runs.
//
// Elsewhere (another processor, a system that refuses executable pages) no
// machine code is made and the handlers run the program.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "PreparedProgram.h"

namespace zorvex::prepared {

class MachineCode {
public:
    // Null where the program has a part machine code does not do, or the
    // platform has none. `live` counts the interpreter's pieces of machine
    // code while they exist.
    static std::unique_ptr<MachineCode> Assemble(const std::vector<Ins>& code, const std::vector<Pattern>& plan,
                                                 int& live);
    ~MachineCode();
    MachineCode(const MachineCode&) = delete;
    MachineCode& operator=(const MachineCode&) = delete;

    // Runs it; the form it is given is not read.
    using Run = double (*)(const detail::CompiledForm*);
    Run Entry() const { return entry_; }

private:
    MachineCode(void* pages, std::size_t size, int& live);
    void* pages_;
    std::size_t size_;
    int* live_;
    Run entry_;
};

}  // namespace zorvex::prepared
