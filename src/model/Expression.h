// Expression: a formula of a model file (a precondition, probability,
// detection, cost, effect value, delay parameter, utility function or
// performance variable), compiled once against a SymbolTable and then
// evaluated often, without allocating.
//
// Syntax, from the loosest binding to the tightest (binary operators are
// left-associative, the conditional right-associative):
//   c ? a : b          conditional; also written if(c, a, b)
//   a or b, a || b     logical or
//   a and b, a && b    logical and
//   ==  !=             equality
//   <  <=  >  >=       ordering
//   +  -               addition, subtraction
//   *  /               multiplication, division
//   -a  +a  not a  !a  unary operators
//   5  0.1  .5  5.  1e-3  name  (a)  f(a, ...)
// As in C++, ordering binds tighter than equality (a < b == c < d compares
// two comparisons) and `not` binds tighter than any binary operator. A
// number is read correctly rounded; one beyond the range of double (or
// underflowing to zero) does not compile. Names are
// [A-Za-z_][A-Za-z0-9_.]*, resolved through the SymbolTable; a name followed
// by '(' is a function: exp, log, sqrt, abs, floor, ceil of one argument,
// pow, min, max of two. Spaces, tabs and line breaks may separate tokens.
// Nesting is limited (100 levels of parentheses, unary operators and calls,
// a tree 1000 operations tall, 32 values pending on the stack); beyond it
// the text does not compile ("expression nested too deeply").
//
// `min(a, b)` is std::min(a, b), that is b < a ? b : a, and `max(a, b)` is
// std::max(a, b), a < b ? b : a: a NaN first argument comes out, a NaN
// second argument is passed over, and of two equal arguments (0 and -0) the
// first comes out. (std::fmin/std::fmax would not do: C leaves their choice
// between 0 and -0 open, and compilers swap their arguments.)
//
// Values are doubles; a state variable's 16-bit value converts exactly.
// Comparisons and logical operators give 1.0 or 0.0. A condition holds when
// its value != 0, so NaN counts as true, as `if (nan)` does in C++. `and`,
// `or` and the conditional evaluate only the operands they need.
//
// Exactness: the value is, bit for bit, that of the same formula written in
// C++ over doubles (a literal as the double constant it denotes, `a and b`
// as `(a != 0 && b != 0)`, `abs` as std::fabs, `min`/`max` as std::min /
// std::max, the other functions as their std:: namesakes) built without fused
// multiply-add or value-changing optimisation (-ffp-contract=off
// -fno-fast-math): every operation is done as written, in the order parsed.
// Subexpressions of constants are folded at compile time by the same
// operations (a C++ compiler may instead compute exp, log or pow of
// constants with its own correctly rounded arithmetic). Where NaNs meet,
// which NaN comes out is not fixed (C++ fixes it neither).
#ifndef TARVEX_MODEL_EXPRESSION_H
#define TARVEX_MODEL_EXPRESSION_H

#include <cstddef>
#include <string>
#include <vector>

#include "model/ExpressionCode.h"
#include "model/ExpressionSymbols.h"

// Where and why an expression did not compile.
struct ExpressionError {
  size_t offset = 0;  // 0-based byte offset in the expression's text
  int line = 1;       // 1-based line of the offset
  int column = 1;     // 1-based byte column of the offset within its line
  std::string message;  // e.g. "unknown name 'Foo'"
};

class Expression {
 public:
  // Why a value is no 16-bit state value.
  enum class ShortResult { kOk, kNotANumber, kNotAnInteger, kOutOfRange };

  // An expression that evaluates to 0.
  Expression();

  // Compiles text, resolving its names through symbols. On success fills
  // *out and returns true; otherwise leaves *out alone, fills *error (when
  // non-null) and returns false.
  static bool Compile(const std::string& text, const SymbolTable& symbols, Expression* out,
                      ExpressionError* error);

  // The value in the current state; allocates nothing and may run in several
  // threads at once. REQUIRES: args holds at least Arguments() values (it may
  // be null when Arguments() is 0).
  double Evaluate(const double* args = nullptr) const {
    return isConstant_ ? constant_ : Run(args);
  }

  // The value as a 16-bit state value: an integer in [-32768, 32767]
  // (-0.0 counts as 0) is stored in *value; anything else is reported and
  // leaves *value alone.
  ShortResult EvaluateShort(short* value, const double* args = nullptr) const;
  // The same for a value at hand.
  static ShortResult ToShort(double v, short* value);
  // "is not a number", "is not an integer", "is outside -32768..32767"
  // (empty for kOk), for messages such as "value 2.5 is not an integer".
  static const char* Describe(ShortResult result);

  // Whether the expression reads a state variable.
  bool ReadsState() const { return readsState_; }
  // The symbols the text names (of every kind), each once, in order of
  // first appearance, also those in a branch that folding removed (so
  // ReadsState() may hold for `1 ? 2 : Var`).
  const std::vector<std::string>& Reads() const { return reads_; }
  // One more than the highest argument position read (0: none).
  int Arguments() const { return arguments_; }
  // The text it was compiled from.
  const std::string& Text() const { return text_; }

 private:
  friend class ExpressionCompiler;

  // Executes the code.
  double Run(const double* args) const;

  // Most costs, detections and probabilities are constants: their value is
  // at hand without running code.
  bool isConstant_ = true;
  double constant_ = 0.0;
  std::string text_;
  std::vector<expression_code::Instruction> code_;
  std::vector<std::string> reads_;
  bool readsState_ = false;
  int arguments_ = 0;
};

#endif
