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
// in. The older spelling TARVEX_ASSERT(condition, text, file) is still
// accepted, but its text and file are ignored: the report always tells the
// condition as written and the file it is in.
#define TARVEX_ASSERT(...)                                                              \
  TARVEX_ASSERT_PICK_(__VA_ARGS__, TARVEX_ASSERT_OLD_, TARVEX_ASSERT_TAKES_1_OR_3_ARGUMENTS, \
                      TARVEX_ASSERT_ONE_, 0)                                              \
  (#__VA_ARGS__, __VA_ARGS__)
#define TARVEX_ASSERT_PICK_(a, b, c, form, ...) form
#define TARVEX_ASSERT_ONE_(text, condition)                               \
  do {                                                                    \
    if (!(condition)) TarvexAssertionFailure(text, __FILE__, __LINE__);   \
  } while (0)
#define TARVEX_ASSERT_OLD_(text, condition, ...) TARVEX_ASSERT_ONE_(#condition, condition)

// TARVEX_ASSERT_NAMED(condition, name): for an invariant whose report text is
// fixed by the documentation and is not the condition as the code has to
// write it; reports `name` in place of the condition.
#define TARVEX_ASSERT_NAMED(condition, name)                                 \
  do {                                                                       \
    if (!(condition)) TarvexAssertionFailure(name, __FILE__, __LINE__);      \
  } while (0)

#endif
