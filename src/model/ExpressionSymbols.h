// SymbolTable: the names an expression may use and what each stands for,
// given by whoever compiles expressions (the model loader). Names are
// resolved once, when an expression is compiled.
#ifndef TARVEX_MODEL_EXPRESSIONSYMBOLS_H
#define TARVEX_MODEL_EXPRESSIONSYMBOLS_H

#include <string>
#include <unordered_map>

class SymbolTable {
 public:
  enum class Kind { kStateVariable, kGlobal, kArgument, kConstant };

  struct Symbol {
    Kind kind = Kind::kConstant;
    short* const* state = nullptr;   // kStateVariable: the value is **state
    const double* global = nullptr;  // kGlobal: the value is *global
    int argument = 0;                // kArgument: the value is args[argument]
    double constant = 0.0;           // kConstant
  };

  // Arguments are numbered 0 .. kMaxArguments - 1.
  static const int kMaxArguments = 4;

  // Each Add returns false, and adds nothing, when the name is not a valid
  // name (IsValidName) or is already defined, or when its value is unusable.
  // A 16-bit state variable read as **value at every evaluation: *value is a
  // pointer its owner keeps pointing at the variable's storage, wherever that
  // moves. REQUIRES: value non-null and outliving the compiled expressions.
  bool AddStateVariable(const std::string& name, short* const* value);
  // A global parameter read as *value at every evaluation (stored as a double
  // whatever its declared type). REQUIRES: value outlives the expressions.
  bool AddGlobal(const std::string& name, const double* value);
  // The function argument at position index (0 .. kMaxArguments - 1).
  bool AddArgument(const std::string& name, int index);
  // A named constant, folded into the expressions that use it.
  bool AddConstant(const std::string& name, double value);

  // The symbol of a name, or null when there is none.
  const Symbol* Find(const std::string& name) const;

  // Whether name matches [A-Za-z_][A-Za-z0-9_.]* and is not one of the
  // reserved words `and`, `or`, `not`, `if`.
  static bool IsValidName(const std::string& name);

 private:
  bool Add(const std::string& name, const Symbol& symbol);

  std::unordered_map<std::string, Symbol> symbols_;
};

#endif
