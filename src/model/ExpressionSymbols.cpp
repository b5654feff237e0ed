#include "model/ExpressionSymbols.h"

namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

}  // namespace

bool SymbolTable::IsValidName(const std::string& name) {
  if (name.empty() || !IsNameStart(name[0])) return false;
  for (char c : name)
    if (!IsNameStart(c) && !(c >= '0' && c <= '9') && c != '.') return false;
  return name != "and" && name != "or" && name != "not" && name != "if";
}

bool SymbolTable::Add(const std::string& name, const Symbol& symbol) {
  if (!IsValidName(name)) return false;
  return symbols_.emplace(name, symbol).second;
}

bool SymbolTable::AddStateVariable(const std::string& name, short* const* value) {
  if (!value) return false;
  Symbol s;
  s.kind = Kind::kStateVariable;
  s.state = value;
  return Add(name, s);
}

bool SymbolTable::AddGlobal(const std::string& name, const double* value) {
  if (!value) return false;
  Symbol s;
  s.kind = Kind::kGlobal;
  s.global = value;
  return Add(name, s);
}

bool SymbolTable::AddArgument(const std::string& name, int index) {
  if (index < 0 || index >= kMaxArguments) return false;
  Symbol s;
  s.kind = Kind::kArgument;
  s.argument = index;
  return Add(name, s);
}

bool SymbolTable::AddConstant(const std::string& name, double value) {
  Symbol s;
  s.kind = Kind::kConstant;
  s.constant = value;
  return Add(name, s);
}

const SymbolTable::Symbol* SymbolTable::Find(const std::string& name) const {
  auto it = symbols_.find(name);
  return it == symbols_.end() ? nullptr : &it->second;
}
