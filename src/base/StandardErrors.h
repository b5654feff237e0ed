// Error reporting shared by the model framework and the generated model.
//
// Every routine writes its fixed text to standard error, one line per text,
// each line flushed. Only MemoryAllocationError ends the program; the others
// report and return, leaving the caller to decide what happens next.
#ifndef TARVEX_BASE_STANDARDERRORS_H
#define TARVEX_BASE_STANDARDERRORS_H

[[noreturn]] void MemoryAllocationError();
void MemoryError();
void ErrorEmptyParameter(const char* name);
void InconsistantState();
void UserError();
void ArrayTypeMismatchError(const char* a, const char* b);
void StructTypeMismatchError(const char* a, const char* b);
void InvalidArrayType();
void InvalidStructType();
void InvalidUnorderedType();
void ArrayOutOfBoundsError(const char* where);

struct SyncError {
  static void WrongDistributionType();
  static void NoAction();
};

// A broken internal invariant: reports the condition's text, the source file
// (named without extension) and the line on standard error, then aborts.
[[noreturn]] void TarvexAssertionFailure(const char* text, const char* file, int line);

#define TARVEX_ASSERT(condition, text, file)                \
  do {                                                      \
    if (!(condition)) TarvexAssertionFailure(text, file, __LINE__); \
  } while (0)

#endif
