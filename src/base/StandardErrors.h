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

// A broken internal invariant: reports the condition's text, the base name of
// the source file (without directories or extension) and the line on
// standard error, as "Assertion failed: <text>, file <name>, line <n>", then
// aborts. `file` is the path as __FILE__ gives it.
[[noreturn]] void TarvexAssertionFailure(const char* text, const char* file, int line);

// TARVEX_ASSERT(condition): checks the condition (always, in every build) and
// reports a failure with the condition's own text and the file it is written
// in.
#define TARVEX_ASSERT(condition)                                                  \
  do {                                                                            \
    if (!(condition)) TarvexAssertionFailure(#condition, __FILE__, __LINE__);     \
  } while (0)

// TARVEX_ASSERT_NAMED(condition, name): for an invariant whose report text is
// fixed by the documentation and is not the condition as the code has to
// write it; reports `name` in place of the condition.
#define TARVEX_ASSERT_NAMED(condition, name)                                 \
  do {                                                                       \
    if (!(condition)) TarvexAssertionFailure(name, __FILE__, __LINE__);      \
  } while (0)

#endif
