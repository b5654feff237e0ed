// The expression language against C++: formulas give, bit for bit, what the
// same formulas give written in C++; attack_flow's preconditions,
// probabilities, detections, costs, effects and utility functions written as
// expressions agree with the compiled model, also after the model's values
// move; random formulas agree with a reference tree-walker; broken texts are
// reported where they break.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "model/Expression.h"
#include "model/attack_flowKORVEL.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Same bits, or both NaN (which NaN comes out where NaNs meet is not fixed).
::testing::AssertionResult SameBits(double expected, double actual) {
  if (std::memcmp(&expected, &actual, sizeof(double)) == 0 ||
      (std::isnan(expected) && std::isnan(actual)))
    return ::testing::AssertionSuccess();
  char text[96];
  std::snprintf(text, sizeof text, "expected %.17g, got %.17g", expected, actual);
  return ::testing::AssertionFailure() << text;
}

Expression MustCompile(const std::string& text, const SymbolTable& symbols) {
  Expression e;
  ExpressionError error;
  EXPECT_TRUE(Expression::Compile(text, symbols, &e, &error)) << text << ": " << error.message;
  return e;
}

// State variables a, b (through pointers that may move), globals g, h,
// arguments x, y and the constant K.
struct World {
  short aValue = 0, bValue = 0;
  short* a = &aValue;
  short* b = &bValue;
  double g = 0.0, h = 0.0;
  double args[2] = {0.0, 0.0};
  SymbolTable symbols;

  World() {
    symbols.AddStateVariable("a", &a);
    symbols.AddStateVariable("b", &b);
    symbols.AddGlobal("g", &g);
    symbols.AddGlobal("h", &h);
    symbols.AddArgument("x", 0);
    symbols.AddArgument("y", 1);
    symbols.AddConstant("K", 2.5);
  }

  // Random values, often special ones.
  void Randomise(std::mt19937_64& rng) {
    static const short kShorts[] = {-32768, -3, 0, 1, 6, 7, 8, 9, 10, 32767};
    static const double kDoubles[] = {0.0, -0.0, 1.0, -1.0, 0.1, 2.5, 100.0, 1e300, 5e-324,
                                      kInf, -kInf, kNaN};
    std::uniform_int_distribution<int> pick(0, 15);
    auto value = [&]() {
      int i = pick(rng);
      if (i < 12) return kDoubles[i];
      return std::uniform_real_distribution<double>(-200.0, 1200.0)(rng);
    };
    *a = kShorts[pick(rng) % 10];
    *b = kShorts[pick(rng) % 10];
    g = value();
    h = value();
    args[0] = value();
    args[1] = value();
  }
};

// The C++ side of a formula: the functions of the language under their names.
namespace cpp {
double exp(double v) { return std::exp(v); }
double log(double v) { return std::log(v); }
double sqrt(double v) { return std::sqrt(v); }
double abs(double v) { return std::fabs(v); }
double floor(double v) { return std::floor(v); }
double ceil(double v) { return std::ceil(v); }
double pow(double l, double r) { return std::pow(l, r); }
double min(double l, double r) { return std::min(l, r); }
double max(double l, double r) { return std::max(l, r); }

using Formula = double (*)(double a, double b, double g, double h, double x, double y);
struct Case {
  const char* text;
  Formula formula;
};

// A formula that reads the same in both languages, written once.
#define TARVEX_BOTH(...)                                                            \
  Case {                                                                            \
    #__VA_ARGS__, []([[maybe_unused]] double a, [[maybe_unused]] double b,          \
                     [[maybe_unused]] double g, [[maybe_unused]] double h,          \
                     [[maybe_unused]] double x, [[maybe_unused]] double y) -> double { \
      return __VA_ARGS__;                                                           \
    }                                                                               \
  }

// The table checks that precedence is C++'s, so it writes what C++ would
// suggest parenthesising.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wparentheses"
const Case kCases[] = {
    TARVEX_BOTH(a > 8 ? 0.1 : 0.7),
    TARVEX_BOTH(a != 0 && b == 0 && g > 6 && h == 0),
    TARVEX_BOTH(a == 0 and (b != 0 or g != 0)),
    TARVEX_BOTH(x || y && g),
    TARVEX_BOTH(x * y + g),
    TARVEX_BOTH(x * y - g * h),
    TARVEX_BOTH(x + y * g - h / x),
    TARVEX_BOTH(x - y - g - h),
    TARVEX_BOTH(x / y / g),
    TARVEX_BOTH((x + y) * (g - h) / (a - b)),
    TARVEX_BOTH(-x * y + - -g - -(h - a)),
    TARVEX_BOTH(!x + not y * 2),
    TARVEX_BOTH(x < y == g < h),
    TARVEX_BOTH(a < b < g),
    TARVEX_BOTH(x ? y : g ? h : a),
    TARVEX_BOTH(x > 0 ? y * 0.5 : -y),
    TARVEX_BOTH(0.1 + 0.2 + x + 0.1 + 0.2),
    TARVEX_BOTH(1e-3 * x + .5 * y - 5. / g + 2.5E+2),
    TARVEX_BOTH(a * 0.1 + b / 3 - 32768),
    TARVEX_BOTH(exp(x / 50) - log(y) * sqrt(g)),
    TARVEX_BOTH(pow(x, y) + pow(g, 0.5) + pow(2.5, h)),
    TARVEX_BOTH(min(x, y) + max(g, h) * min(a, 1) - max(-x, 0)),
    TARVEX_BOTH(abs(x - y) + floor(g) * ceil(h) - floor(-2.5 * a)),
    TARVEX_BOTH((7.389056099 - exp(x / 50)) / 6.389056099),
    TARVEX_BOTH((1.0 - 7.389056099 / exp(2 * x)) / -6.389056099),
};
#pragma GCC diagnostic pop
#undef TARVEX_BOTH

}  // namespace cpp

TEST(Expression, FormulasMatchTheSameFormulasInCpp) {
  World w;
  std::vector<Expression> compiled;
  for (const cpp::Case& c : cpp::kCases) compiled.push_back(MustCompile(c.text, w.symbols));
  compiled.push_back(MustCompile("if(x > 0, y, g)", w.symbols));
  std::mt19937_64 rng(31415);
  for (int trial = 0; trial < 3000; trial++) {
    w.Randomise(rng);
    const double a = *w.a, b = *w.b, x = w.args[0], y = w.args[1];
    for (size_t i = 0; i < std::size(cpp::kCases); i++)
      ASSERT_TRUE(SameBits(cpp::kCases[i].formula(a, b, w.g, w.h, x, y),
                           compiled[i].Evaluate(w.args)))
          << cpp::kCases[i].text << " at a=" << a << " b=" << b << " g=" << w.g << " h=" << w.h
          << " x=" << x << " y=" << y;
    ASSERT_TRUE(SameBits(x > 0 ? y : w.g, compiled.back().Evaluate(w.args)));
  }
  // NaN is a true condition; min and max pass over a NaN second argument
  // only; of 0 and -0 the first comes out.
  w.g = kNaN;
  w.h = 1.0;
  EXPECT_EQ(MustCompile("g ? 1 : 2", w.symbols).Evaluate(), 1.0);
  EXPECT_EQ(MustCompile("not g", w.symbols).Evaluate(), 0.0);
  EXPECT_EQ(MustCompile("min(h, g) + max(h, g)", w.symbols).Evaluate(), 2.0);
  EXPECT_TRUE(std::isnan(MustCompile("min(g, h)", w.symbols).Evaluate()));
  EXPECT_TRUE(std::isnan(MustCompile("max(g, h)", w.symbols).Evaluate()));
  EXPECT_TRUE(SameBits(-0.0, MustCompile("min(-0, 0) + max(-0, 0)", w.symbols).Evaluate()));
}

// Each step of attack_flow: its decision's precondition and cost, its
// probability, its detection and the effect (variable and value) it has.
struct StepExpressions {
  const char* step;
  const char* precondition;
  const char* probability;
  const char* detection;
  const char* cost;
  const char* affected;  // null: no effect
};

const char kEvilTwin[] =
    "NetworkKey != 0 and APHardware == 1 and APConfiguration > 6 and MITM == 0";
const char kRogueAP[] =
    "NetworkKey == 0 and SSIDMACtargetnetwork != 0 and APHardware == 1 and APConfiguration > 6";
const char kBlock[] = "DOS == 0 and (Hijacking != 0 or MITM != 0)";
const char kApplication[] = "MITM != 0 and SensitiveInformation == 0 and NetworkHacking > 8";
const char kNetworkLayer[] = "NetworkAccess != 0 && Hijacking == 0 && PacketForging > 7";
const char kPassword[] = "NetworkKey == 0 and NoKeyNoAccess != 0 and SocialEngineering > 5";

const StepExpressions kSteps[] = {
    {"NetworkscanningSuccessStep", "NoKeyNoAccess != 0 and SSIDMACtargetnetwork == 0", "1.0",
     "0.0", "0.0", "SSIDMACtargetnetwork"},
    {"EvilTwinFailureStep", kEvilTwin, "APConfiguration > 8 ? 0.1 : 0.7", "0.2", "3.0", nullptr},
    {"EvilTwinSuccessStep", kEvilTwin, "APConfiguration > 8 ? 0.9 : 0.3", "0.0", "3.0", "MITM"},
    {"JoinNetworkSuccessStep", "NetworkKey != 0 && NetworkAccess == 0", "1", "0", "0",
     "NetworkAccess"},
    {"RogueAPFailureStep", kRogueAP, "APConfiguration > 8 ? 0.2 : 0.5", "0.3", "2.0", nullptr},
    {"RogueAPSuccessStep", kRogueAP, "APConfiguration > 8 ? 0.8 : 0.5", "0.0", "2.0", "NetworkKey"},
    {"BlockTrafficFlowFailureStep", kBlock, "0.1", "0.1", "2.0", nullptr},
    {"BlockTrafficFlowSuccessStep", kBlock, "0.9", "0.0", "2.0", "DOS"},
    {"ApplicationLayerAttackFailureStep", kApplication, "0.0", "NetworkHacking > 9 ? 0.3 : 0.0",
     "5.0", nullptr},
    {"ApplicationLayerAttackSuccessStep", kApplication, "NetworkHacking > 9 ? 1.0 : 0.0", "0.0",
     "5.0", "SensitiveInformation"},
    {"NetworkLayerAttackFailureStep", kNetworkLayer, "PacketForging > 9 ? 0.1 : 0.0", "0.1",
     "2.0", nullptr},
    {"NetworkLayerAttackSuccessStep", kNetworkLayer, "PacketForging > 9 ? 0.9 : 0.0", "0.0",
     "2.0", "Hijacking"},
    {"PasswordCaptureFailureStep", kPassword, "SocialEngineering > 7 ? 0.1 : 0.7", "0.1", "2.0",
     nullptr},
    {"PasswordCaptureSuccessStep", kPassword, "SocialEngineering > 7 ? 0.9 : 0.3", "0.0", "2.0",
     "NetworkKey"},
    {"DoNothingOutcome1Step", "1", "1.0", "1.0", "0.0", nullptr},
};

TEST(Expression, AttackFlowWrittenAsExpressionsMatchesTheModel) {
  const int kVars = 13;
  short storage[kVars];       // where the values move halfway through
  short* values[kVars] = {};  // kept current by the variables
  attack_flowKORVEL m;
  KORVELStateVariable* vars[kVars] = {
      m.APHardware, m.Hijacking, m.SSIDMACtargetnetwork, m.NetworkAccess, m.NetworkKey,
      m.NoKeyNoAccess, m.PacketForging, m.SocialEngineering, m.APConfiguration,
      m.NetworkHacking, m.DOS, m.MITM, m.SensitiveInformation};
  SymbolTable symbols;
  for (int v = 0; v < kVars; v++) {
    vars[v]->registerPointer(&values[v]);
    ASSERT_TRUE(symbols.AddStateVariable(vars[v]->getName(), &values[v]));
  }
  struct Compiled {
    Step* step;
    Expression precondition, probability, detection, cost, effect;
    short* const* affected = nullptr;
  };
  std::vector<Compiled> steps;
  for (const StepExpressions& s : kSteps) {
    Compiled c{m.stepNamed(s.step), MustCompile(s.precondition, symbols),
               MustCompile(s.probability, symbols), MustCompile(s.detection, symbols),
               MustCompile(s.cost, symbols), MustCompile("1", symbols)};
    ASSERT_NE(c.step, nullptr) << s.step;
    for (int v = 0; s.affected && v < kVars; v++)
      if (std::strcmp(vars[v]->getName(), s.affected) == 0) c.affected = &values[v];
    steps.push_back(std::move(c));
  }

  std::mt19937_64 rng(27182);
  std::uniform_int_distribution<int> value(-1, 11);
  for (int round = 0; round < 2; round++) {
    if (round == 1)
      for (int v = 0; v < kVars; v++) vars[v]->RelocateValue(&storage[v]);
    for (int trial = 0; trial < 400; trial++) {
      short before[kVars];
      for (int v = 0; v < kVars; v++) before[v] = *values[v] = static_cast<short>(value(rng));
      for (Compiled& c : steps) {
        const char* name = c.step->getName();
        ASSERT_TRUE(SameBits(c.step->preconditionsMet() ? 1.0 : 0.0, c.precondition.Evaluate()))
            << name;
        ASSERT_TRUE(SameBits(c.step->getOutcomeProbability(), c.probability.Evaluate())) << name;
        ASSERT_TRUE(SameBits(c.step->getDetection(), c.detection.Evaluate())) << name;
        ASSERT_TRUE(SameBits(c.step->getCost(), c.cost.Evaluate())) << name;
        // The model's effect against the expression's, from the same state.
        c.step->executeEffects();
        short after[kVars];
        for (int v = 0; v < kVars; v++) after[v] = *values[v];
        for (int v = 0; v < kVars; v++) *values[v] = before[v];
        if (c.affected) {
          ASSERT_EQ(c.effect.EvaluateShort(*c.affected), Expression::ShortResult::kOk);
        }
        for (int v = 0; v < kVars; v++) ASSERT_EQ(after[v], *values[v]) << name << " var " << v;
        for (int v = 0; v < kVars; v++) *values[v] = before[v];
      }
    }
  }

  // The utility functions of the argument x, in and beyond their ranges.
  SymbolTable arg;
  arg.AddArgument("x", 0);
  Expression cost = MustCompile(
      "x < 0 ? 1.0 : x > 100 ? 0.0 : (7.389056099 - exp(x / 50)) / 6.389056099", arg);
  Expression payoff = MustCompile(
      "if(x < 0, 0.0, if(x > 1000, 1.0,\n"
      "   (28.031624895 - 28.031624895 / exp(x / 300)) / 27.031624895))", arg);
  Expression detection = MustCompile(
      "x < 0 ? 1.0 : x > 1 ? 0.0 : (1.0 - 7.389056099 / exp(2 * x)) / -6.389056099", arg);
  std::vector<double> xs = {-kInf, -1e300, -1.0, -0.0, 0.0, 5e-324, 1e-9, 0.5, 1.0,
                            1.0000000000000002, 2.0, 50.0, 99.99, 100.0, 100.00000000000001,
                            300.0, 999.0, 1000.0, 1001.0, 1e300, kInf, kNaN};
  for (int i = 0; i < 3000; i++) {
    xs.push_back(std::uniform_real_distribution<double>(-10.0, 1100.0)(rng));
    xs.push_back(std::uniform_real_distribution<double>(-0.5, 1.5)(rng));
  }
  for (double x : xs) {
    ASSERT_TRUE(SameBits(m.convertCostToUtility(x), cost.Evaluate(&x))) << x;
    ASSERT_TRUE(SameBits(m.convertPayoffToUtility(x), payoff.Evaluate(&x))) << x;
    ASSERT_TRUE(SameBits(m.convertDetectionToUtility(x), detection.Evaluate(&x))) << x;
  }
}

// Random formulas, rendered to text with as few parentheses as precedence
// allows (and some more), against a tree-walker in C++.
struct Tree {
  enum Kind { kNumber, kVariable, kNeg, kNot, kCall1, kBinary, kCall2, kAnd, kOr, kConditional };
  Kind kind = kNumber;
  int op = 0;  // which function or binary operator; the variable's index
  double value = 0.0;
  std::unique_ptr<Tree> a, b, c;
};

const char* const kVariables[] = {"a", "b", "g", "h", "x", "y"};
const char* const kCalls1[] = {"exp", "log", "sqrt", "abs", "floor", "ceil"};
const char* const kCalls2[] = {"pow", "min", "max"};
const char* const kBinaries[] = {"+", "-", "*", "/", "<", "<=", ">", ">=", "==", "!="};
const int kBinaryLevel[] = {6, 6, 7, 7, 5, 5, 5, 5, 4, 4};

std::unique_ptr<Tree> RandomTree(std::mt19937_64& rng, int depth) {
  static const double kNumbers[] = {0, 1, 2, 3, 10, 0.5, 0.1, 1e-3, 123.456, 1e10, 7.389056099};
  auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  std::unique_ptr<Tree> t(new Tree);
  const int choice = depth == 0 ? pick(2) : pick(14);
  if (choice == 0) {
    t->value = pick(4) == 0 ? std::uniform_real_distribution<double>(0, 100)(rng)
                            : kNumbers[pick(11)];
    return t;
  }
  if (choice == 1) {
    t->kind = Tree::kVariable;
    t->op = pick(6);
    return t;
  }
  static const Tree::Kind kKinds[] = {Tree::kNeg, Tree::kNot, Tree::kCall1, Tree::kCall1,
                                      Tree::kBinary, Tree::kBinary, Tree::kBinary, Tree::kBinary,
                                      Tree::kCall2, Tree::kAnd, Tree::kOr, Tree::kConditional};
  t->kind = kKinds[choice - 2];
  t->op = pick(t->kind == Tree::kCall1 ? 6 : t->kind == Tree::kCall2 ? 3 : 10);
  t->a = RandomTree(rng, depth - 1);
  if (t->kind >= Tree::kBinary) t->b = RandomTree(rng, depth - 1);
  if (t->kind == Tree::kConditional) t->c = RandomTree(rng, depth - 1);
  return t;
}

double Walk(const Tree& t, const double* vars) {
  switch (t.kind) {
    case Tree::kNumber: return t.value;
    case Tree::kVariable: return vars[t.op];
    case Tree::kNeg: return -Walk(*t.a, vars);
    case Tree::kNot: return !Walk(*t.a, vars);
    case Tree::kCall1: {
      const double v = Walk(*t.a, vars);
      double (*const fs[])(double) = {cpp::exp,  cpp::log,   cpp::sqrt,
                                      cpp::abs, cpp::floor, cpp::ceil};
      return fs[t.op](v);
    }
    case Tree::kCall2: {
      const double l = Walk(*t.a, vars), r = Walk(*t.b, vars);
      return t.op == 0 ? std::pow(l, r) : t.op == 1 ? std::min(l, r) : std::max(l, r);
    }
    case Tree::kBinary: {
      const double l = Walk(*t.a, vars), r = Walk(*t.b, vars);
      switch (t.op) {
        case 0: return l + r;
        case 1: return l - r;
        case 2: return l * r;
        case 3: return l / r;
        case 4: return l < r;
        case 5: return l <= r;
        case 6: return l > r;
        case 7: return l >= r;
        case 8: return l == r;
        default: return l != r;
      }
    }
    case Tree::kAnd: return Walk(*t.a, vars) && Walk(*t.b, vars);
    case Tree::kOr: return Walk(*t.a, vars) || Walk(*t.b, vars);
    case Tree::kConditional: return Walk(*t.a, vars) ? Walk(*t.b, vars) : Walk(*t.c, vars);
  }
  return 0.0;
}

// Precedence levels: 1 conditional, 2 or, 3 and, 4 equality, 5 ordering,
// 6 additive, 7 multiplicative, 8 unary, 9 operand.
std::string Render(const Tree& t, int minLevel, std::mt19937_64& rng) {
  const bool coin = rng() % 2 == 0;
  std::string text;
  int level = 9;
  char number[32];
  switch (t.kind) {
    case Tree::kNumber:
      std::snprintf(number, sizeof number, "%.17g", t.value);
      text = number;
      break;
    case Tree::kVariable: text = kVariables[t.op]; break;
    case Tree::kNeg: text = "-" + Render(*t.a, 8, rng); level = 8; break;
    case Tree::kNot: text = (coin ? "!" : "not ") + Render(*t.a, 8, rng); level = 8; break;
    case Tree::kCall1: text = std::string(kCalls1[t.op]) + "(" + Render(*t.a, 1, rng) + ")"; break;
    case Tree::kCall2:
      text = std::string(kCalls2[t.op]) + "(" + Render(*t.a, 1, rng) + "," +
             Render(*t.b, 1, rng) + ")";
      break;
    case Tree::kBinary:
      level = kBinaryLevel[t.op];
      text = Render(*t.a, level, rng) + (coin ? " " : "") + kBinaries[t.op] + (coin ? " " : "") +
             Render(*t.b, level + 1, rng);
      break;
    case Tree::kAnd:
      level = 3;
      text = Render(*t.a, 3, rng) + (coin ? " and " : "&&") + Render(*t.b, 4, rng);
      break;
    case Tree::kOr:
      level = 2;
      text = Render(*t.a, 2, rng) + (coin ? " or " : "||") + Render(*t.b, 3, rng);
      break;
    case Tree::kConditional:
      if (coin) {
        text = "if(" + Render(*t.a, 1, rng) + ", " + Render(*t.b, 1, rng) + ", " +
               Render(*t.c, 1, rng) + ")";
      } else {
        level = 1;
        text = Render(*t.a, 2, rng) + " ? " + Render(*t.b, 1, rng) + " : " + Render(*t.c, 1, rng);
      }
      break;
  }
  return level < minLevel || rng() % 10 == 0 ? "(" + text + ")" : text;
}

TEST(Expression, RandomFormulasMatchAReferenceTreeWalker) {
  World w;
  std::mt19937_64 rng(4242);
  for (int trial = 0; trial < 4000; trial++) {
    std::unique_ptr<Tree> tree = RandomTree(rng, 1 + trial % 6);
    const std::string text = Render(*tree, 1, rng);
    const Expression e = MustCompile(text, w.symbols);
    for (int i = 0; i < 4; i++) {
      w.Randomise(rng);
      const double vars[] = {static_cast<double>(*w.a), static_cast<double>(*w.b), w.g, w.h,
                             w.args[0], w.args[1]};
      ASSERT_TRUE(SameBits(Walk(*tree, vars), e.Evaluate(w.args)))
          << text << " at a=" << vars[0] << " b=" << vars[1] << " g=" << w.g << " h=" << w.h
          << " x=" << w.args[0] << " y=" << w.args[1];
    }
  }
}

TEST(Expression, BrokenTextsAreReportedWhereTheyBreak) {
  struct Broken {
    std::string text;
    size_t offset;
    int line, column;
    const char* message;
  };
  std::string deepParens = std::string(101, '(') + "1" + std::string(101, ')');
  std::string deepStack = "a";  // keeps 41 values pending
  for (int i = 0; i < 40; i++) deepStack = "a+(" + deepStack + ")";
  std::string longChain = "x";
  for (int i = 0; i < 1000; i++) longChain += "+x";
  std::string longConditional;
  for (int i = 0; i < 1001; i++) longConditional += "x ? 1 : ";
  longConditional += "2";
  const Broken kBroken[] = {
      {"", 0, 1, 1, "unexpected end of expression"},
      {"1 +", 3, 1, 4, "unexpected end of expression"},
      {"a +\n  Foo * 2", 6, 2, 3, "unknown name 'Foo'"},
      {"pow(x)", 0, 1, 1, "function 'pow' takes 2 arguments, not 1"},
      {"1 + exp(x, y)", 4, 1, 5, "function 'exp' takes 1 argument, not 2"},
      {"if(x, y)", 0, 1, 1, "'if' takes 3 arguments, not 2"},
      {"min(x, y", 8, 1, 9, "expected ')' after function arguments"},
      {"foo(1)", 0, 1, 1, "unknown function 'foo'"},
      {"2 * x(1)", 4, 1, 5, "'x' is not a function"},
      {"(x + 1", 6, 1, 7, "expected ')' to match '('"},
      {"x ? 1", 5, 1, 6, "expected ':' after the first branch of '?'"},
      {"x = 1", 2, 1, 3, "unexpected '='; equality is written '=='"},
      {"x & y", 2, 1, 3, "unexpected '&'; logical and is written '&&' or 'and'"},
      {"x # 1", 2, 1, 3, "unexpected character '#'"},
      {"1.2.3", 0, 1, 1, "malformed number '1.2.3'"},
      {"x*2e+", 2, 1, 3, "malformed number '2e+'"},
      {"5x", 0, 1, 1, "malformed number '5x'"},
      {"1e999", 0, 1, 1, "number '1e999' is out of range"},
      {"x y", 2, 1, 3, "unexpected 'y'"},
      {"(1))", 3, 1, 4, "unexpected ')'"},
      {"if x", 0, 1, 1, "expected '(' after 'if'"},
      {"x\r\n\t* * 2", 6, 2, 4, "unexpected '*'"},
      {deepParens, 101, 1, 102, "expression nested too deeply"},
      {deepStack, 96, 1, 97, "expression nested too deeply"},
      {longChain, 1999, 1, 2000, "expression nested too deeply"},
      {longConditional, 10, 1, 11, "expression nested too deeply"},
  };
  World w;
  *w.a = 3;
  EXPECT_EQ(MustCompile(deepParens.substr(1, 201), w.symbols).Evaluate(), 1.0);
  // The deepest text of each shape that compiles evaluates right (and, under
  // AddressSanitizer, within the evaluator's stack).
  struct Shape {
    const char* before;
    const char* after;
    double value, perLevel;  // the value at a = 3: value + perLevel * levels
  };
  const Shape kShapes[] = {{"a+(", ")", 3, 3},
                           {"a+(a > 1 ? ", " : -a)", 3, 3},
                           {"a+(a and ", ")", 4, 0},
                           {"a+min(a, 2 * ", ")", 6, 0}};
  for (const Shape& shape : kShapes) {
    std::string text = "a";
    int levels = 0;
    Expression e;
    while (Expression::Compile(shape.before + text + shape.after, w.symbols, &e, nullptr)) {
      text = shape.before + text + shape.after;
      levels++;
    }
    EXPECT_GE(levels, 15) << text;
    EXPECT_EQ(MustCompile(text, w.symbols).Evaluate(), shape.value + shape.perLevel * levels)
        << text;
  }
  for (const Broken& b : kBroken) {
    Expression e = MustCompile("17", w.symbols);
    ExpressionError error;
    EXPECT_FALSE(Expression::Compile(b.text, w.symbols, &e, &error)) << b.text;
    EXPECT_EQ(error.message, b.message) << b.text;
    EXPECT_EQ(error.offset, b.offset) << b.text;
    EXPECT_EQ(error.line, b.line) << b.text;
    EXPECT_EQ(error.column, b.column) << b.text;
    EXPECT_EQ(e.Evaluate(), 17.0) << "a failed compilation leaves its target alone";
  }
}

TEST(Expression, OnlyTheOperandsNeededAreEvaluated) {
  // Reading Dangling would dereference a null pointer (and crash the test).
  short* dangling = nullptr;
  double zero = 0.0, one = 1.0, nan = kNaN;
  SymbolTable s;
  s.AddStateVariable("Dangling", &dangling);
  s.AddGlobal("Zero", &zero);
  s.AddGlobal("One", &one);
  s.AddGlobal("Nan", &nan);
  const std::pair<const char*, double> kCases[] = {
      {"Zero and Dangling > 0", 0.0},     {"One or Dangling", 1.0},
      {"Zero ? Dangling : 3", 3.0},       {"One ? 4 : Dangling", 4.0},
      {"if(Zero, Dangling, 5)", 5.0},     {"Zero and Dangling or One", 1.0},
      {"Nan ? 6 : Dangling", 6.0},        {"One and Zero and Dangling and One", 0.0},
      {"Zero or Zero or One or Dangling", 1.0}, {"0 and Dangling", 0.0},
      {"One and Nan and 2", 1.0},         {"Zero or One and -0", 0.0},
  };
  for (const auto& c : kCases)
    EXPECT_TRUE(SameBits(c.second, MustCompile(c.first, s).Evaluate())) << c.first;
  // A logical value is 1.0 or 0.0: `Zero or -Zero` is 0.0, not -0.0.
  EXPECT_TRUE(SameBits(0.0, MustCompile("Zero or -Zero", s).Evaluate()));
}

TEST(Expression, ValuesForStateVariablesAndWhatIsRead) {
  World w;
  *w.a = 5;
  w.g = 0.0;
  const std::pair<const char*, Expression::ShortResult> kCases[] = {
      {"32767", Expression::ShortResult::kOk},   {"-32768", Expression::ShortResult::kOk},
      {"-g", Expression::ShortResult::kOk},      {"a + 1", Expression::ShortResult::kOk},
      {"32768", Expression::ShortResult::kOutOfRange},
      {"-32769", Expression::ShortResult::kOutOfRange},
      {"1 / g", Expression::ShortResult::kOutOfRange},
      {"2.5", Expression::ShortResult::kNotAnInteger},
      {"g / g", Expression::ShortResult::kNotANumber},
  };
  const short kValues[] = {32767, -32768, 0, 6};
  for (size_t i = 0; i < std::size(kCases); i++) {
    short v = 1234;
    EXPECT_EQ(MustCompile(kCases[i].first, w.symbols).EvaluateShort(&v), kCases[i].second)
        << kCases[i].first;
    EXPECT_EQ(v, i < std::size(kValues) ? kValues[i] : 1234) << kCases[i].first;
  }
  EXPECT_STREQ(Expression::Describe(Expression::ShortResult::kNotAnInteger), "is not an integer");

  const Expression e = MustCompile("x * K + a - g > a or (1 ? y : b)", w.symbols);
  EXPECT_EQ(e.Reads(), (std::vector<std::string>{"x", "K", "a", "g", "y", "b"}));
  EXPECT_TRUE(e.ReadsState());
  EXPECT_EQ(e.Arguments(), 2);
  EXPECT_EQ(e.Text(), "x * K + a - g > a or (1 ? y : b)");
  const Expression global = MustCompile("g + x", w.symbols);
  EXPECT_FALSE(global.ReadsState());
  EXPECT_EQ(global.Arguments(), 1);
  EXPECT_EQ(Expression().Evaluate(), 0.0);
  // Names: valid ones only, each once, reserved words refused.
  EXPECT_FALSE(w.symbols.AddConstant("a", 1.0));
  EXPECT_FALSE(w.symbols.AddConstant("and", 1.0));
  EXPECT_FALSE(w.symbols.AddConstant("1a", 1.0));
  EXPECT_TRUE(w.symbols.AddConstant("Model.Rate_2", 1.0));
  EXPECT_FALSE(w.symbols.AddArgument("z", SymbolTable::kMaxArguments));
}

}  // namespace
