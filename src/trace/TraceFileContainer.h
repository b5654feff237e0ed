// TraceFileContainer: the fan-out through which the driver traces a run.
//
// It is itself a TraceFile and hands every call to the writers added to it,
// in the order they were added; with no writer it does nothing. It borrows
// the writers (their owner keeps them alive for as long as the container is
// used) and the reward model whose state and header the writers print.
#ifndef TARVEX_TRACE_TRACEFILECONTAINER_H
#define TARVEX_TRACE_TRACEFILECONTAINER_H

#include <vector>

#include "trace/TraceFile.h"

class TraceFileContainer : public TraceFile {
 public:
  // Size of the buffer that printf formats into; a longer result is cut to
  // kFormatBufferSize - 1 characters.
  static const int kFormatBufferSize = 1000;

  TraceFileContainer() = default;

  // The reward model given to the writers by the no-argument calls below.
  void addPVModel(PVModel* pv) { pvModel_ = pv; }
  PVModel* getPVModel() const { return pvModel_; }
  // Appends a writer (a null one is ignored); returns 0.
  int AddTraceFile(TraceFile* writer);
  // Kept for the interface: writers are never taken out again; returns 0.
  int RemoveTraceFile(TraceFile* writer);
  int getNumTraceFiles() const { return static_cast<int>(writers_.size()); }

  // Each writer's printHeader / printState with the stored reward model, and
  // printInitialState with its child model.
  void printHeader();
  void printState();
  void printInitialState();

  // The container's own versions of the model-taking calls write nothing:
  // the writers are reached through the no-argument calls above.
  void printHeader(PVModel* pv) override;
  void printInitialState(BaseModelClass* m) override;
  void printState(BaseModelClass* m) override;
  void printState(PVModel* pv) override;

  void printFooter() override;
  void newBatch() override;
  void printFireAction(BaseActionClass* action, double time) override;
  void printPreFireAction(BaseActionClass* action) override;
  void printPostFireAction(BaseActionClass* action, BaseActionClass* firedAction) override;
  // Formats (bounded by kFormatBufferSize) and hands the text to each
  // writer's printStr.
  __attribute__((format(printf, 3, 4))) void printf(int level, const char* format, ...) override;
  void printStr(int level, const char* text) override;

 private:
  PVModel* pvModel_ = nullptr;
  std::vector<TraceFile*> writers_;
};

#endif
