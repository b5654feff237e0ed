#include "base/StandardErrors.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

// Writes one line (the text may be null: then only the line end) and flushes.
void line(const char* a, const char* b = nullptr) {
  if (a) std::cerr << a;
  if (b) std::cerr << b;
  std::cerr << std::endl;
}

}  // namespace

void MemoryAllocationError() {
  line("Insufficient Memory to allocate dynamic data structures from heap memory");
  line("Exiting program...");
  std::cout.flush();
  std::exit(1);
}

void MemoryError() { line("Memory Error"); }

void ErrorEmptyParameter(const char* name) { line(name, ": Parameter was an empty reference"); }

void InconsistantState() {
  line("This program has entered into an inconsistant state. Please report this bug.");
}

void UserError() { line("A user error has been detected"); }

void ArrayTypeMismatchError(const char* a, const char* b) {
  line("Array types for equivalence sharing do not match for state variables: ");
  line("  ", a);
  line("  ", b);
}

void StructTypeMismatchError(const char* a, const char* b) {
  line("Struct types for equivalence sharing do not match for state variables: ");
  line("  ", a);
  line("  ", b);
}

void InvalidArrayType() { line("ArrayType is not valid"); }

void InvalidStructType() {
  line("ArrayType is invalid for struct element");
  line("preparing to segfault");
}

void InvalidUnorderedType() { line("ArrayType is invalid for unordered element"); }

void ArrayOutOfBoundsError(const char* where) { line("Array out of bounds error at ", where); }

void SyncError::WrongDistributionType() {
  line("You can only synchronize actions from one type,", "either exponential or instantenous");
}

void SyncError::NoAction() { line(" no Action found in model"); }

void TarvexAssertionFailure(const char* text, const char* file, int lineNo) {
  // The file's base name: after the last directory separator, before the
  // last dot.
  std::string name = file ? file : "";
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  std::cout.flush();
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", text, name.c_str(), lineNo);
  std::fflush(stderr);
  std::abort();
}
