// TraceFileTarvex: the plain-text trace.
//
// Level 1 records every firing ("#### Firing: " and "#### After: " lines);
// level 2 adds the enabling state before and the affected state after each
// firing; levels 3 and 4 are accepted and write what level 2 writes. The
// header, the batch marks and the state dumps are written at every level.
// Every line is flushed as it is written.
//
// printStr writes its text unchanged (no newline added) when the given level
// is at most the writer's level, so text sent through the container's printf
// at level 2 shows only in a level-2 trace.
#ifndef TARVEX_TRACE_TRACEFILETARVEX_H
#define TARVEX_TRACE_TRACEFILETARVEX_H

#include "trace/TraceFile.h"

class BaseStateVariableClass;

class TraceFileTarvex : public TraceFile {
 public:
  explicit TraceFileTarvex(const char* fileName) : TraceFile(fileName) {}
  explicit TraceFileTarvex(std::ostream* out) : TraceFile(out) {}

  void printHeader(PVModel* pv) override;
  void printFooter() override;
  void printInitialState(BaseModelClass* m) override;
  // The model's state variables (leaf by leaf), then its submodels'.
  void printState(BaseModelClass* m) override;
  // The state of the reward model's child model.
  void printState(PVModel* pv) override;
  void printFireAction(BaseActionClass* action, double time) override;
  void printPreFireAction(BaseActionClass* action) override;
  void printPostFireAction(BaseActionClass* action, BaseActionClass* firedAction) override;
  void newBatch() override;
  void printStr(int level, const char* text) override;

 private:
  // One "<indent><full name> = <value>" line.
  void printVariable(const char* indent, BaseStateVariableClass* sv);
};

#endif
