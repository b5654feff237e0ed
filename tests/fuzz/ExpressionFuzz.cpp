// Fuzzes the expression language alone. The first 8 bytes of the input
// choose values (two state variables, a global and an argument, some of
// them extreme: NaN, infinities, 0, -0, the largest numbers), the rest is
// the formula's text. Checks:
//  - a text that does not compile says why, at a place inside the text
//    whose line and column agree with its offset;
//  - a text that compiles evaluates, and it gives the same value (bit for
//    bit, or NaN for NaN) when the global is read at every evaluation as
//    when its value is folded into the code as a constant, so that folding
//    constants never changes a result;
//  - its 16-bit conversion stores only integers in range.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "FuzzCheck.h"
#include "model/Expression.h"

namespace {

double Pick(uint8_t byte) {
  static const double kValues[] = {0.0,
                                   -0.0,
                                   1.0,
                                   -1.0,
                                   0.5,
                                   3.0,
                                   32767.0,
                                   -32768.0,
                                   1e308,
                                   -1e308,
                                   5e-324,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(),
                                   2.5,
                                   1e-300};
  return kValues[byte % 16];
}

short PickShort(uint8_t byte) {
  static const short kValues[] = {0, 1, -1, 2, 7, 100, 32767, -32768};
  return kValues[byte % 8];
}

bool SameValue(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t head[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  const size_t used = size < 8 ? size : 8;
  std::memcpy(head, data, used);
  const std::string text(reinterpret_cast<const char*>(data) + used, size - used);

  short aValue = PickShort(head[0]), bValue = PickShort(head[1]);
  short* a = &aValue;
  short* b = &bValue;
  const double g = Pick(head[2]);
  const double args[2] = {Pick(head[3]), Pick(head[4])};

  // The same names twice: g read at run time, or folded as a constant.
  SymbolTable read, folded;
  for (SymbolTable* s : {&read, &folded}) {
    s->AddStateVariable("a", &a);
    s->AddStateVariable("b", &b);
    s->AddArgument("x", 0);
    s->AddArgument("y", 1);
    s->AddConstant("K", Pick(head[5]));
  }
  read.AddGlobal("g", &g);
  folded.AddConstant("g", g);

  Expression e;
  ExpressionError error;
  if (!Expression::Compile(text, read, &e, &error)) {
    FUZZ_CHECK(!error.message.empty());
    FUZZ_CHECK(error.offset <= text.size());
    int line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < error.offset; i++)
      if (text[i] == '\n') {
        line++;
        lineStart = i + 1;
      }
    FUZZ_CHECK(error.line == line);
    FUZZ_CHECK(error.column == static_cast<int>(error.offset - lineStart) + 1);
    return 0;
  }
  FUZZ_CHECK(e.Text() == text);
  FUZZ_CHECK(e.Arguments() >= 0 && e.Arguments() <= 2);

  Expression f;
  ExpressionError foldError;
  FUZZ_CHECK(Expression::Compile(text, folded, &f, &foldError));
  const double value = e.Evaluate(args);
  FUZZ_CHECK(SameValue(value, f.Evaluate(args)));
  // Evaluating again in the same state gives the same value.
  FUZZ_CHECK(SameValue(value, e.Evaluate(args)));

  short stored = 12345;
  const Expression::ShortResult r = e.EvaluateShort(&stored, args);
  if (r == Expression::ShortResult::kOk)
    FUZZ_CHECK(static_cast<double>(stored) == value || (stored == 0 && value == 0));
  else
    FUZZ_CHECK(stored == 12345 && Expression::Describe(r)[0] != '\0');

  // The state variables move: the expression follows them.
  short moved[2] = {PickShort(head[6]), PickShort(head[7])};
  a = &moved[0];
  b = &moved[1];
  FUZZ_CHECK(SameValue(e.Evaluate(args), f.Evaluate(args)));
  return 0;
}
