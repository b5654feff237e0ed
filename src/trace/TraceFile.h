// TraceFile: the interface of every trace writer.
//
// A trace is an optional, human-readable record of a run. Each writer has a
// detail level and an output stream; the stream is owned when the writer
// opened a file itself and borrowed when it was handed one. Every operation
// of the interface does nothing here, so a writer implements only what its
// format records.
//
// A trace is not a result: a trace file that cannot be opened is reported
// once on standard error and the run goes on, the writer's output then being
// lost.
#ifndef TARVEX_TRACE_TRACEFILE_H
#define TARVEX_TRACE_TRACEFILE_H

#include <fstream>
#include <iosfwd>
#include <memory>
#include <string>

class BaseActionClass;
class BaseModelClass;
class PVModel;

// Detail level most recently set on any writer (setTraceLevel).
extern int TraceLevel;

class TraceFile {
 public:
  // No stream; level 1.
  TraceFile();
  // Opens (truncating) the named file and owns it; level 0.
  explicit TraceFile(const char* fileName);
  // Writes to a stream that stays the caller's; level 0.
  explicit TraceFile(std::ostream* out);
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  virtual void printHeader(PVModel* pv);
  virtual void printFooter();
  virtual void printInitialState(BaseModelClass* m);
  virtual void printState(BaseModelClass* m);
  virtual void printState(PVModel* pv);
  virtual void printFireAction(BaseActionClass* action, double time);
  virtual void printPreFireAction(BaseActionClass* action);
  virtual void printPostFireAction(BaseActionClass* action, BaseActionClass* firedAction);
  virtual void newBatch();
  __attribute__((format(printf, 3, 4))) virtual void printf(int level, const char* format, ...);
  virtual void printStr(int level, const char* text);
  virtual ~TraceFile();

  // Sets this writer's level and the process-wide TraceLevel.
  void setTraceLevel(int level);
  int getTraceLevel() const { return level_; }

  // Where the writer writes: null for a writer without a stream.
  std::ostream* getStream() const { return out_; }

 protected:
  // The time as the stream's default floating format writes it (six
  // significant digits), whatever formatting the output stream carries.
  static std::string formatTime(double time);
  // Writes "(index)name" of the model; a model without a name (or a missing
  // model) puts the stream into its fail state instead, which loses the
  // writer's later output. Returns whether the text was written.
  static bool writeModelTag(std::ostream& os, BaseModelClass* m);

  int level_;
  std::ostream* out_ = nullptr;

 private:
  std::unique_ptr<std::ofstream> owned_;
};

#endif
