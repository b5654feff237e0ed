// The compiled form of an expression: a flat array of instructions for a
// stack machine that keeps the top of its stack in a register (the
// accumulator). Loads push the accumulator and replace it; a binary
// operation combines the accumulator with either the value it pops or an
// operand carried by the instruction itself (a constant, a state variable, a
// global or an argument), which saves a load for the common `Var > 8`.
// Internal to the expression compiler and evaluator.
#ifndef TARVEX_MODEL_EXPRESSIONCODE_H
#define TARVEX_MODEL_EXPRESSIONCODE_H

#include <cmath>
#include <cstdint>

namespace expression_code {

// Every binary operation with how it computes its value from its left
// operand l and right operand r: the one definition that both the evaluator
// and constant folding expand, so that a folded constant is the value the
// evaluator would have computed.
#define TARVEX_EXPRESSION_BINARY(X)     \
  X(Add, l + r)                         \
  X(Sub, l - r)                         \
  X(Mul, l * r)                         \
  X(Div, l / r)                         \
  X(Lt, static_cast<double>(l < r))     \
  X(Le, static_cast<double>(l <= r))    \
  X(Gt, static_cast<double>(l > r))     \
  X(Ge, static_cast<double>(l >= r))    \
  X(Eq, static_cast<double>(l == r))    \
  X(Ne, static_cast<double>(l != r))    \
  X(Pow, std::pow(l, r))                \
  X(Min, r < l ? r : l)                 \
  X(Max, l < r ? r : l)

// Every unary operation with its value from its operand v. Truth turns a
// value into the 1.0 or 0.0 of a condition (C++'s conversion to bool).
#define TARVEX_EXPRESSION_UNARY(X)      \
  X(Neg, -v)                            \
  X(Not, static_cast<double>(v == 0.0)) \
  X(Truth, static_cast<double>(v != 0.0)) \
  X(Exp, std::exp(v))                   \
  X(Log, std::log(v))                   \
  X(Sqrt, std::sqrt(v))                 \
  X(Abs, std::fabs(v))                  \
  X(Floor, std::floor(v))               \
  X(Ceil, std::ceil(v))

enum class Binary : uint8_t {
#define TARVEX_X(name, value) k##name,
  TARVEX_EXPRESSION_BINARY(TARVEX_X)
#undef TARVEX_X
};

enum class Unary : uint8_t {
#define TARVEX_X(name, value) k##name,
  TARVEX_EXPRESSION_UNARY(TARVEX_X)
#undef TARVEX_X
};

// Where an instruction's operand comes from: the stack (popped), or a
// constant, state variable, global or argument carried by the instruction.
enum Form : uint8_t { kFromStack, kConstant, kState, kGlobal, kArgument, kNumForms };

// Opcodes. A load exists for each carried form; a binary operation for each
// form (kAdd pops its left operand, kAddK takes its right operand from the
// instruction's constant, ...) and, fused with the load of its left operand,
// for a variable compared with (or combined with) a constant, as in
// `Skill > 8`: kGtSK pushes and computes **state > constant of the next
// instruction, which is data only and skipped.
enum Opcode : uint8_t {
  kEnd,          // the value is the accumulator
  kLoadK,        // push; acc = constant
  kLoadS,        // push; acc = **state
  kLoadG,        // push; acc = *global
  kLoadA,        // push; acc = args[index]
  kJumpIfFalse,  // c = acc; acc = pop; if c == 0 go to index
  kJump,         // go to index
  kAndJump,      // if acc == 0: acc = 0.0, go to index; else acc = pop
  kOrJump,       // if acc != 0: acc = 1.0, go to index; else acc = pop
  kSelect,       // acc = acc != 0 ? constant : the next instruction's constant (skipped)
#define TARVEX_X(name, value) k##name, k##name##K, k##name##S, k##name##G, k##name##A,
  TARVEX_EXPRESSION_BINARY(TARVEX_X)
#undef TARVEX_X
#define TARVEX_X(name, value) k##name##SK, k##name##GK, k##name##AK,
  TARVEX_EXPRESSION_BINARY(TARVEX_X)
#undef TARVEX_X
#define TARVEX_X(name, value) k##name,
  TARVEX_EXPRESSION_UNARY(TARVEX_X)
#undef TARVEX_X
};

static_assert(kLoadA - kLoadK == kArgument - kConstant, "loads follow the forms");
static_assert(kSubA == kAdd + kNumForms + kArgument, "binary opcodes come in form order");
static_assert(kSubAK == kAddSK + 3 + kArgument - kState, "fused opcodes come in form order");

// The opcode of a binary operation taking its right operand from a form.
inline Opcode BinaryOpcode(Binary op, Form right) {
  return static_cast<Opcode>(kAdd + kNumForms * static_cast<int>(op) + right);
}
// The opcode of a binary operation fused with the load of its left operand
// from a state variable, global or argument, its right one a constant.
inline Opcode FusedOpcode(Binary op, Form left) {
  return static_cast<Opcode>(kAddSK + 3 * static_cast<int>(op) + left - kState);
}
inline Opcode UnaryOpcode(Unary op) { return static_cast<Opcode>(kNeg + static_cast<int>(op)); }
inline Opcode LoadOpcode(Form form) { return static_cast<Opcode>(kLoadK + form - kConstant); }

// One instruction (16 bytes): the opcode, a jump target or argument
// position, and a carried operand.
struct Instruction {
  Opcode op = kEnd;
  int32_t index = 0;
  union {
    double constant = 0.0;
    const double* global;
    short* const* state;
  };
};

// The deepest stack an expression may need; deeper ones do not compile.
const int kMaxDepth = 32;

inline double ApplyBinary(Binary op, double l, double r) {
  switch (op) {
#define TARVEX_X(name, value) \
  case Binary::k##name:       \
    return value;
    TARVEX_EXPRESSION_BINARY(TARVEX_X)
#undef TARVEX_X
  }
  return 0.0;
}

inline double ApplyUnary(Unary op, double v) {
  switch (op) {
#define TARVEX_X(name, value) \
  case Unary::k##name:        \
    return value;
    TARVEX_EXPRESSION_UNARY(TARVEX_X)
#undef TARVEX_X
  }
  return 0.0;
}

}  // namespace expression_code

#endif
