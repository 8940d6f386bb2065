#include "MachineCode.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__x86_64__) && defined(__unix__)
#include <sys/mman.h>
#include <unistd.h>
#define ZORVEX_MACHINE_CODE 1
#endif

namespace zorvex::prepared {

#ifdef ZORVEX_MACHINE_CODE
namespace {

using op::Operation;
using op::RulesOf;

// Where a Variant keeps its kind and its value; checked once against a few
// values before any code relies on it.
constexpr int kValueAt = 8;
bool LayoutHolds() {
    auto bytes = [](const Variant& v, int at, std::size_t n, const void* want) {
        return std::memcmp(reinterpret_cast<const unsigned char*>(&v) + at, want, n) == 0;
    };
    const double real = 1.5;
    const std::int32_t integer = -7;
    const unsigned char kinds[] = {static_cast<unsigned char>(VarKind::Real),
                                   static_cast<unsigned char>(VarKind::Integer),
                                   static_cast<unsigned char>(VarKind::Boolean)};
    const unsigned char one = 1;
    return sizeof(Variant) == 16 && bytes(Variant(real), 0, 1, &kinds[0]) && bytes(Variant(real), kValueAt, 8, &real) &&
           bytes(Variant(integer), 0, 1, &kinds[1]) && bytes(Variant(integer), kValueAt, 4, &integer) &&
           bytes(Variant(true), 0, 1, &kinds[2]) && bytes(Variant(true), kValueAt, 1, &one);
}

// The registers of the program, and the word that keeps calls aligned.
constexpr std::int32_t kFrame = 8 * kRegisters + 8;
static_assert(kFrame % 16 == 8, "entered at 8 past a 16-byte boundary, calls need 16");

// The SSE2 scalar instructions used, by opcode after their prefix and 0F.
enum : std::uint8_t {
    kMovsdLoad = 0x10,
    kMovsdStore = 0x11,
    kCvtsi2sd = 0x2A,
    kUcomisd = 0x2E,
    kMovapd = 0x28,
    kXorpd = 0x57,
    kMulsd = 0x59,
    kSubsd = 0x5C,
};
enum : std::uint8_t { kScalar = 0xF2, kPacked = 0x66 };
enum Condition : std::uint8_t { kEqual = 0x4, kNotEqual = 0x5, kParity = 0xA };

// Operands of an instruction: how it reads its value once the guard passed.
struct Operand {
    enum Where { Xmm, AtRax, AtRsp } where = Xmm;
    int xmm = 1;
    std::int32_t disp = 0;
};

class Assembler {
public:
    using Label = int;

    // Where the code will stand, or 0 while that is not known.
    explicit Assembler(std::uintptr_t base) : base_(base) {}

    Label NewLabel() {
        labels_.push_back(-1);
        return static_cast<Label>(labels_.size() - 1);
    }
    void Bind(Label l) { labels_[l] = static_cast<std::ptrdiff_t>(bytes_.size()); }

    // ---- the instructions
    void MovRaxImm(std::uint64_t v) {
        Put(0x48, 0xB8);
        Word(v, 8);
    }
    void CmpKind(VarKind k) { Put(0x80, 0x38, static_cast<std::uint8_t>(k)); }  // cmp byte [rax], k
    void Jump(Condition c, Label l) {
        Put(0x0F, 0x80 | c);
        Fix(l);
    }
    void Jump(Label l) {
        Put(0xE9);
        Fix(l);
    }
    void MovzxEcxBoolean() { Put(0x0F, 0xB6, 0x48, kValueAt); }  // movzx ecx, byte [rax+8]
    void CallRax() { Put(0xFF, 0xD0); }
    // Relative where the code's address is known and the function is near.
    void Call(const void* f) {
        const auto target = reinterpret_cast<std::intptr_t>(f);
        const std::intptr_t rel = target - static_cast<std::intptr_t>(base_ + bytes_.size() + 5);
        if (base_ != 0 && rel == static_cast<std::int32_t>(rel)) {
            Put(0xE8);
            Word(static_cast<std::uint32_t>(rel), 4);
            return;
        }
        MovRaxImm(static_cast<std::uint64_t>(target));
        CallRax();
    }
    void StackBy(bool grow) {
        Put(0x48, 0x81, grow ? 0xEC : 0xC4);
        Word(static_cast<std::uint32_t>(kFrame), 4);
    }
    void Ret() { Put(0xC3); }
    void MovRdiImm(std::uint64_t v) {
        Put(0x48, 0xBF);
        Word(v, 8);
    }
    void TestAl() { Put(0x84, 0xC0); }
    void Endbr64() { Put(0xF3, 0x0F, 0x1E, 0xFA); }
    void MovqXmmRax(int x) { Put(kPacked, 0x48, 0x0F, 0x6E, 0xC0 | x << 3); }

    // An SSE2 instruction of xmm `x` and an operand.
    void Sse(std::uint8_t prefix, std::uint8_t opcode, int x, const Operand& o) {
        Put(prefix, 0x0F, opcode);
        switch (o.where) {
            case Operand::Xmm: Put(0xC0 | x << 3 | o.xmm); break;
            case Operand::AtRax:
                if (o.disp == 0)
                    Put(x << 3);
                else
                    Put(0x40 | x << 3, static_cast<std::uint8_t>(o.disp));
                break;
            case Operand::AtRsp:
                Put(0x84 | x << 3, 0x24);
                Word(static_cast<std::uint32_t>(o.disp), 4);
                break;
        }
    }
    void Xmm(std::uint8_t prefix, std::uint8_t opcode, int x, int y) { Sse(prefix, opcode, x, {Operand::Xmm, y}); }
    void CvtsiEcx(int x) { Put(kScalar, 0x0F, kCvtsi2sd, 0xC0 | x << 3 | 1); }

    // The code, or empty when a label was left unbound.
    std::vector<std::uint8_t> Finish() {
        for (const auto& [at, label] : fixes_) {
            if (labels_[label] < 0) return {};
            const auto rel = static_cast<std::int32_t>(labels_[label] - static_cast<std::ptrdiff_t>(at + 4));
            std::memcpy(&bytes_[at], &rel, 4);
        }
        return std::move(bytes_);
    }

private:
    template <class... B>
    void Put(B... b) {
        (bytes_.push_back(static_cast<std::uint8_t>(b)), ...);
    }
    void Word(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Fix(Label l) {
        fixes_.push_back({bytes_.size(), l});
        Word(0, 4);
    }

    std::uintptr_t base_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::ptrdiff_t> labels_;
    std::vector<std::pair<std::size_t, Label>> fixes_;
};

// An operator's rule over doubles as machine code applies it.
struct RawRule {
    std::uint8_t sse = 0;
    bool commutes = false;
    bool finiteOperands = false;
    double (*binary)(double, double) = nullptr;
    double (*unary)(double) = nullptr;
};

RawRule RuleOf(Operation o) {
    return op::Dispatch(o, [&]<Operation O>() -> RawRule {
        using R = RulesOf<O>;
        if constexpr (O == Operation::None || R::kDoubles == op::Doubles::None)
            return {};
        else if constexpr (R::kOperands == 2)
            return {R::kSse, R::kCommutes, R::kFiniteOperands, &R::Raw, nullptr};
        else
            return {0, false, R::kFiniteOperands, nullptr, &R::Raw};
    });
}

// Lowers the instructions in order; every guard and test that fails jumps
// to `miss_`.
class Lowering {
public:
    Lowering(const std::vector<Ins>& code, std::uintptr_t base) : code_(code), a_(base) {
        for (std::size_t i = 0; i <= code.size(); ++i) at_.push_back(a_.NewLabel());
        miss_ = a_.NewLabel();
    }

    // False for an instruction it does not do.
    bool Lower(const std::vector<Pattern>& plan) {
#ifdef __CET__
        a_.Endbr64();  // the library is marked for indirect branch tracking: so is its code
#endif
        a_.StackBy(true);
        for (std::size_t i = 0; i < code_.size(); ++i) {
            a_.Bind(at_[i]);
            if (!One(code_[i], plan[i], i)) return false;
        }
        a_.Bind(at_.back());
        a_.StackBy(false);
        a_.Ret();
        a_.Bind(miss_);
        a_.MovRaxImm(std::bit_cast<std::uint64_t>(std::numeric_limits<double>::quiet_NaN()));
        a_.MovqXmmRax(0);
        a_.StackBy(false);
        a_.Ret();
        for (const Late& late : late_) {
            a_.Bind(late.entry);
            a_.CmpKind(VarKind::Integer);
            a_.Jump(kNotEqual, miss_);
            a_.Sse(kScalar, kCvtsi2sd, late.xmm, {Operand::AtRax, 0, kValueAt});
            if (late.opcode != 0) a_.Xmm(late.prefix, late.opcode, 0, late.xmm);
            a_.Jump(late.back);
        }
        return true;
    }

    std::vector<std::uint8_t> Finish() { return a_.Finish(); }

private:
    static Operand Register(std::uint32_t r) { return {Operand::AtRsp, 0, static_cast<std::int32_t>(8 * r)}; }

    bool One(const Ins& ins, const Pattern& p, std::size_t i) {
        switch (p.does) {
            case Does::Load:
                Load(p.form, ins.a, 0);
                if (p.form == FHostReal) Finite(0);
                return true;
            case Does::Store: a_.Sse(kScalar, kMovsdStore, 0, Register(ins.a.reg)); return true;
            case Does::Keep:
                a_.Sse(kScalar, kMovsdStore, 0, Register(ins.a.reg));
                Finite(0);
                return true;
            case Does::CallsFit:
                a_.MovRdiImm(reinterpret_cast<std::uintptr_t>(ins.a.limits));
                a_.Call(reinterpret_cast<const void*>(&CallsFit));
                a_.TestAl();
                a_.Jump(kEqual, miss_);
                a_.Xmm(kPacked, kXorpd, 0, 0);
                return true;
            case Does::Binary: return Binary(p.o, p.form, ins.a, p.swap, RuleOf(p.o).finiteOperands);
            case Does::Leaves:
                Save(ins, p);
                Load(p.left, ins.a, 0);
                return Binary(p.o, p.form, ins.b, false, RuleOf(p.o).finiteOperands && MayBeInfinite(p.left));
            case Does::Unary: {
                const RawRule rule = RuleOf(p.o);
                if (rule.unary == nullptr) return false;
                if (rule.finiteOperands) Finite(0);
                a_.Call(reinterpret_cast<const void*>(rule.unary));
                return true;
            }
            case Does::Function:
                Save(ins, p);
                if (p.sse != 0 && !MayBeInfinite(p.form)) {
                    Take(p.form, ins.a, 1, kScalar, p.sse);
                    return true;
                }
                if (p.form != FReg) Load(p.form, ins.a, 0);
                if (MayBeInfinite(p.form)) Finite(0);
                if (p.sse != 0)
                    a_.Xmm(kScalar, p.sse, 0, 0);
                else
                    a_.Call(reinterpret_cast<const void*>(ins.b.fn));
                return true;
            case Does::Square:
                Save(ins, p);
                if (p.form != FReg) Load(p.form, ins.a, 0);
                a_.Xmm(kScalar, kMulsd, 0, 0);
                return true;
            case Does::Branch:
                a_.Xmm(kPacked, kUcomisd, 0, 0);
                a_.Jump(kParity, miss_);
                a_.Xmm(kPacked, kXorpd, 1, 1);
                a_.Xmm(kPacked, kUcomisd, 0, 1);
                a_.Jump(kEqual, Target(i, ins.a.jump));
                return true;
            case Does::Jump: a_.Jump(Target(i, ins.a.jump)); return true;
            case Does::End:
                if (i + 1 < code_.size()) a_.Jump(at_.back());
                return true;
            case Does::Put:
            case Does::CallHost: return false;
        }
        return false;
    }

    Assembler::Label Target(std::size_t i, std::int32_t jump) const {
        return at_.at(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + jump));
    }

    void Save(const Ins& ins, const Pattern& p) {
        if (p.save) a_.Sse(kScalar, kMovsdStore, 0, Register(ins.save));
    }

    // The operand's guard, then where its value stands: in place for a
    // variable or a register, else in xmm `x`. An Integer in a guarded
    // number is converted out of line, into `x`, where `late` (with the
    // instruction that takes it) goes on.
    Operand Reach(Form f, const Slot& s, int x, Assembler::Label* late) {
        switch (f) {
            case FReal:
            case FNumber:
            case FBool:
                a_.MovRaxImm(reinterpret_cast<std::uintptr_t>(s.var));
                if (f == FBool) {
                    a_.CmpKind(VarKind::Boolean);
                    a_.Jump(kNotEqual, miss_);
                    a_.MovzxEcxBoolean();
                    a_.CvtsiEcx(x);
                    return {Operand::Xmm, x};
                }
                a_.CmpKind(VarKind::Real);
                *late = f == FNumber ? a_.NewLabel() : miss_;
                a_.Jump(kNotEqual, *late);
                return {Operand::AtRax, 0, kValueAt};
            case FConst:
                a_.MovRaxImm(std::bit_cast<std::uint64_t>(s.k));
                a_.MovqXmmRax(x);
                return {Operand::Xmm, x};
            case FReg: return Register(s.reg);
            case FHostReal: a_.MovRaxImm(reinterpret_cast<std::uintptr_t>(s.real)); return {Operand::AtRax, 0, 0};
            case FHostInt:
                a_.MovRaxImm(reinterpret_cast<std::uintptr_t>(s.integer));
                a_.Sse(kScalar, kCvtsi2sd, x, {Operand::AtRax, 0, 0});
                return {Operand::Xmm, x};
        }
        return {};
    }

    // The instruction `prefix 0F opcode` of xmm 0 and the operand; with
    // opcode 0, the operand into xmm `x`.
    void Take(Form f, const Slot& s, int x, std::uint8_t prefix, std::uint8_t opcode) {
        Assembler::Label late = -1;
        Operand o = Reach(f, s, x, &late);
        const bool inPlace = o.where != Operand::Xmm;
        if (opcode == 0) {
            if (inPlace) a_.Sse(kScalar, kMovsdLoad, x, o);
        } else if (inPlace || o.xmm != 0) {
            a_.Sse(prefix, opcode, 0, o);
        }
        if (late >= 0 && late != miss_) {
            const Assembler::Label back = a_.NewLabel();
            a_.Bind(back);
            late_.push_back({late, back, x, prefix, opcode});
        }
    }
    void Load(Form f, const Slot& s, int x) { Take(f, s, x, 0, 0); }

    // x - x is NaN exactly when x is an infinity or NaN.
    void Finite(int x) {
        a_.Xmm(kPacked, kMovapd, 2, x);
        a_.Xmm(kScalar, kSubsd, 2, 2);
        a_.Xmm(kPacked, kUcomisd, 2, 2);
        a_.Jump(kParity, miss_);
    }

    // acc = acc op x, or x op acc.
    bool Binary(Operation o, Form f, const Slot& s, bool swap, bool checkAcc) {
        const RawRule rule = RuleOf(o);
        if (rule.binary == nullptr) return false;
        if (checkAcc) Finite(0);
        const bool checkX = rule.finiteOperands && MayBeInfinite(f);
        if (rule.sse != 0 && !checkX && (!swap || rule.commutes)) {
            Take(f, s, 1, kScalar, rule.sse);
            return true;
        }
        Load(f, s, 1);
        if (checkX) Finite(1);
        if (rule.sse != 0) {
            if (swap) {
                a_.Xmm(kScalar, rule.sse, 1, 0);
                a_.Xmm(kPacked, kMovapd, 0, 1);
            } else {
                a_.Xmm(kScalar, rule.sse, 0, 1);
            }
            return true;
        }
        if (swap) {
            a_.Xmm(kPacked, kMovapd, 2, 0);
            a_.Xmm(kPacked, kMovapd, 0, 1);
            a_.Xmm(kPacked, kMovapd, 1, 2);
        }
        a_.Call(reinterpret_cast<const void*>(rule.binary));
        return true;
    }

    // The out-of-line conversion of an Integer operand.
    struct Late {
        Assembler::Label entry, back;
        int xmm;
        std::uint8_t prefix, opcode;
    };

    const std::vector<Ins>& code_;
    Assembler a_;
    std::vector<Assembler::Label> at_;  // of each instruction, and the exit
    Assembler::Label miss_;
    std::vector<Late> late_;
};

}  // namespace

std::unique_ptr<MachineCode> MachineCode::Assemble(const std::vector<Ins>& code, const std::vector<Pattern>& plan,
                                                   int& live) {
    static const bool layout = LayoutHolds();
    if (!layout || code.empty() || plan.size() != code.size()) return nullptr;
    // Once where it stands is unknown, for its longest size; then again at
    // its place, where calls may be shorter.
    auto assemble = [&](std::uintptr_t base) {
        Lowering lowering(code, base);
        return lowering.Lower(plan) ? lowering.Finish() : std::vector<std::uint8_t>{};
    };
    const std::size_t longest = assemble(0).size();
    if (longest == 0) return nullptr;
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t size = (longest + page - 1) / page * page;
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    const std::vector<std::uint8_t> bytes = assemble(reinterpret_cast<std::uintptr_t>(pages));
    if (bytes.empty() || bytes.size() > size) {
        munmap(pages, size);
        return nullptr;
    }
    std::memcpy(pages, bytes.data(), bytes.size());
    if (mprotect(pages, size, PROT_READ | PROT_EXEC) != 0) {
        munmap(pages, size);
        return nullptr;
    }
    return std::unique_ptr<MachineCode>(new MachineCode(pages, size, live));
}

MachineCode::MachineCode(void* pages, std::size_t size, int& live)
    : pages_(pages), size_(size), live_(&live), entry_(reinterpret_cast<Run>(pages)) {
    ++live;
}

MachineCode::~MachineCode() {
    munmap(pages_, size_);
    --*live_;
}

#else

std::unique_ptr<MachineCode> MachineCode::Assemble(const std::vector<Ins>&, const std::vector<Pattern>&, int&) {
    return nullptr;
}
MachineCode::MachineCode(void* pages, std::size_t size, int& live)
    : pages_(pages), size_(size), live_(&live), entry_(nullptr) {}
MachineCode::~MachineCode() = default;

#endif

}  // namespace zorvex::prepared
