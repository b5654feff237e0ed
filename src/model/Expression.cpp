#include "model/Expression.h"

#include "model/ExpressionCompiler.h"

using namespace expression_code;

Expression::Expression() : code_(1) {}

bool Expression::Compile(const std::string& text, const SymbolTable& symbols, Expression* out,
                         ExpressionError* error) {
  return ExpressionCompiler::Compile(text, symbols, out, error);
}

double Expression::Run(const double* args) const {
  // Every load pushes the accumulator, also the first one (whose value is
  // then never used), so that no instruction needs a variant for an empty
  // stack; the compiler has checked that kMaxDepth entries suffice.
  double stack[kMaxDepth];
  int sp = 0;
  double acc = 0.0;
  const Instruction* const code = code_.data();
  const Instruction* pc = code;
  for (;;) {
    switch (pc->op) {
      case kEnd:
        return acc;
      case kLoadK:
        stack[sp++] = acc;
        acc = pc->constant;
        break;
      case kLoadS:
        stack[sp++] = acc;
        acc = static_cast<double>(**pc->state);
        break;
      case kLoadG:
        stack[sp++] = acc;
        acc = *pc->global;
        break;
      case kLoadA:
        stack[sp++] = acc;
        acc = args[pc->index];
        break;
      case kJumpIfFalse: {
        const double c = acc;
        acc = stack[--sp];
        if (c == 0.0) {
          pc = code + pc->index;
          continue;
        }
        break;
      }
      case kJump:
        pc = code + pc->index;
        continue;
      case kAndJump:
        if (acc == 0.0) {
          acc = 0.0;
          pc = code + pc->index;
          continue;
        }
        acc = stack[--sp];
        break;
      case kOrJump:
        if (acc != 0.0) {
          acc = 1.0;
          pc = code + pc->index;
          continue;
        }
        acc = stack[--sp];
        break;
      case kSelect:
        acc = acc != 0.0 ? pc->constant : pc[1].constant;
        ++pc;
        break;
#define TARVEX_X(name, value)                                    \
  case k##name: {                                                \
    const double l = stack[--sp], r = acc;                       \
    acc = value;                                                 \
    break;                                                       \
  }                                                              \
  case k##name##K: {                                             \
    const double l = acc, r = pc->constant;                      \
    acc = value;                                                 \
    break;                                                       \
  }                                                              \
  case k##name##S: {                                             \
    const double l = acc, r = static_cast<double>(**pc->state);  \
    acc = value;                                                 \
    break;                                                       \
  }                                                              \
  case k##name##G: {                                             \
    const double l = acc, r = *pc->global;                       \
    acc = value;                                                 \
    break;                                                       \
  }                                                              \
  case k##name##A: {                                             \
    const double l = acc, r = args[pc->index];                   \
    acc = value;                                                 \
    break;                                                       \
  }
      TARVEX_EXPRESSION_BINARY(TARVEX_X)
#undef TARVEX_X
#define TARVEX_X(name, value)                                                      \
  case k##name##SK: {                                                              \
    stack[sp++] = acc;                                                             \
    const double l = static_cast<double>(**pc->state), r = pc[1].constant;         \
    acc = value;                                                                   \
    ++pc;                                                                          \
    break;                                                                         \
  }                                                                                \
  case k##name##GK: {                                                              \
    stack[sp++] = acc;                                                             \
    const double l = *pc->global, r = pc[1].constant;                              \
    acc = value;                                                                   \
    ++pc;                                                                          \
    break;                                                                         \
  }                                                                                \
  case k##name##AK: {                                                              \
    stack[sp++] = acc;                                                             \
    const double l = args[pc->index], r = pc[1].constant;                          \
    acc = value;                                                                   \
    ++pc;                                                                          \
    break;                                                                         \
  }
      TARVEX_EXPRESSION_BINARY(TARVEX_X)
#undef TARVEX_X
#define TARVEX_X(name, value) \
  case k##name: {             \
    const double v = acc;     \
    acc = value;              \
    break;                    \
  }
      TARVEX_EXPRESSION_UNARY(TARVEX_X)
#undef TARVEX_X
    }
    ++pc;
  }
}

Expression::ShortResult Expression::ToShort(double v, short* value) {
  if (v != v) return ShortResult::kNotANumber;
  if (!(v >= -32768.0 && v <= 32767.0)) return ShortResult::kOutOfRange;
  if (v != std::floor(v)) return ShortResult::kNotAnInteger;
  *value = static_cast<short>(v);
  return ShortResult::kOk;
}

Expression::ShortResult Expression::EvaluateShort(short* value, const double* args) const {
  return ToShort(Evaluate(args), value);
}

const char* Expression::Describe(ShortResult result) {
  switch (result) {
    case ShortResult::kOk:
      return "";
    case ShortResult::kNotANumber:
      return "is not a number";
    case ShortResult::kNotAnInteger:
      return "is not an integer";
    case ShortResult::kOutOfRange:
      return "is outside -32768..32767";
  }
  return "";
}
