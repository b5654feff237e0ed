// ExpressionCompiler: parses an expression's text, folds its constant
// subexpressions and generates the instructions of an Expression. Internal
// to Expression::Compile, whose contract it implements.
#ifndef TARVEX_MODEL_EXPRESSIONCOMPILER_H
#define TARVEX_MODEL_EXPRESSIONCOMPILER_H

#include <string>

#include "model/Expression.h"
#include "model/ExpressionSymbols.h"

class ExpressionCompiler {
 public:
  // See Expression::Compile.
  static bool Compile(const std::string& text, const SymbolTable& symbols, Expression* out,
                      ExpressionError* error);
};

#endif
