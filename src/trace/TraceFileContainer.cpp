#include "trace/TraceFileContainer.h"

#include <cstdarg>
#include <cstdio>

#include "rewards/PVModel.h"

int TraceFileContainer::AddTraceFile(TraceFile* writer) {
  if (writer) writers_.push_back(writer);
  return 0;
}

int TraceFileContainer::RemoveTraceFile(TraceFile*) { return 0; }

void TraceFileContainer::printHeader() {
  for (TraceFile* w : writers_) w->printHeader(pvModel_);
}

void TraceFileContainer::printState() {
  for (TraceFile* w : writers_) w->printState(pvModel_);
}

void TraceFileContainer::printInitialState() {
  BaseModelClass* child = pvModel_ ? pvModel_->getChildModel() : nullptr;
  for (TraceFile* w : writers_) w->printInitialState(child);
}

void TraceFileContainer::printHeader(PVModel*) {}
void TraceFileContainer::printInitialState(BaseModelClass*) {}
void TraceFileContainer::printState(BaseModelClass*) {}
void TraceFileContainer::printState(PVModel*) {}

void TraceFileContainer::printFooter() {
  for (TraceFile* w : writers_) w->printFooter();
}

void TraceFileContainer::newBatch() {
  for (TraceFile* w : writers_) w->newBatch();
}

void TraceFileContainer::printFireAction(BaseActionClass* action, double time) {
  for (TraceFile* w : writers_) w->printFireAction(action, time);
}

void TraceFileContainer::printPreFireAction(BaseActionClass* action) {
  for (TraceFile* w : writers_) w->printPreFireAction(action);
}

void TraceFileContainer::printPostFireAction(BaseActionClass* action,
                                             BaseActionClass* firedAction) {
  for (TraceFile* w : writers_) w->printPostFireAction(action, firedAction);
}

void TraceFileContainer::printf(int level, const char* format, ...) {
  if (writers_.empty() || !format) return;
  char buffer[kFormatBufferSize];
  va_list args;
  va_start(args, format);
  // vsnprintf never writes past the buffer and always terminates it, so a
  // longer result arrives cut to the buffer's size.
  int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (written < 0) return;  // an encoding error leaves nothing to print
  for (TraceFile* w : writers_) w->printStr(level, buffer);
}

void TraceFileContainer::printStr(int level, const char* text) {
  for (TraceFile* w : writers_) w->printStr(level, text);
}
