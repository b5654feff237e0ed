// TraceFileXML: the trace as an XML document for a message-sequence-chart
// viewer.
//
// The document declares the model's processes with their actions and state
// variables and the interactions through shared variables, then holds a
// sequence of state records (<S>) and action records (<A>). It covers the
// first replication or batch only:
//
//   batch counter -1  (after construction)  the header may be written;
//                  0  (first newBatch)       state and action records;
//                  1  (second newBatch)      the closing lines are written;
//                 >1                         nothing more is written.
//
// The header is written at most once, and the closing lines only after a
// header. printFooter also closes a document that is still open, so a run
// that ends before its first batch is complete still leaves a well-formed
// document (in a normal run the document is closed already and it writes
// nothing). printf/printStr text is not part of this format and is ignored.
//
// Identifiers: a process is "p<model id>", an action "a<action ID>", a
// variable "p<model id><full name>", where the full name is "prefix.name",
// or the name without a prefix. Names and values are written as the models
// and state variables give them; the characters &, <, > and " are replaced
// by their entities wherever they occur.
//
// An atomic model (GetModelType() == 1) presents its variables through
// GetLocalStateVariables; a composed model presents the variables it shares
// through GetSharedStateVariables (getNumStateVariables() entries at most,
// ending early at a null entry) and its submodels through GetChild.
#ifndef TARVEX_TRACE_TRACEFILEXML_H
#define TARVEX_TRACE_TRACEFILEXML_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "trace/TraceFile.h"

class BaseStateVariableClass;

class TraceFileXML : public TraceFile {
 public:
  // Location of the document type definition named in the DOCTYPE line.
  static const char* const kDTDLocation;

  TraceFileXML() = default;
  explicit TraceFileXML(const char* fileName) : TraceFile(fileName) {}
  explicit TraceFileXML(std::ostream* out) : TraceFile(out) {}

  // The header part for the reward model's child model (batch -1 only).
  void printHeader(PVModel* pv) override;
  // Closes a document that is still open (see above).
  void printFooter() override;
  void printInitialState(BaseModelClass* m) override;
  // The values of the model's traced variables, then its submodels'.
  void printState(BaseModelClass* m) override;
  void printState(PVModel* pv) override;
  // Remembers the time for the next action record.
  void printFireAction(BaseActionClass* action, double time) override;
  void printPreFireAction(BaseActionClass* action) override;
  // The action record: the action with its affected variables' values.
  void printPostFireAction(BaseActionClass* action, BaseActionClass* firedAction) override;
  void newBatch() override;

  // The process declaration of m and (for a composed model) its submodels;
  // an atomic model's parent id becomes parentId.
  void printHeader(BaseModelClass* m, int parentId);
  // The interactions through variables shared by several processes.
  void printHeaderInteractions(BaseModelClass* m);
  // The traced variables of the declared model with this name and id, or
  // null when no such model has been declared.
  const std::vector<BaseStateVariableClass*>* getModelMap(const char* name, int index) const;
  // Whether a shared variable of this full name has been declared.
  bool inUsedStateName(const char* fullName) const;
  // Records a shared variable declared by process processIndex; false (and
  // nothing recorded) when the name was declared before.
  bool addUsedStateName(const char* fullName, int processIndex, int parentIndex);

  int getBatchCounter() const { return batch_; }
  double getLastFiringTime() const { return lastFiringTime_; }

  // The text with &, <, > and " replaced by their entities.
  static std::string escape(const std::string& text);

 private:
  struct UsedStateName {
    std::string name;
    int process;
    int parent;
    // The atomic processes that use the variable, in the order met.
    std::vector<int> touches;
  };

  // Records are written only into an open document in its first batch.
  bool recording() const { return out_ && batch_ == 0 && !closed_; }
  void close();
  // The leaves of the variables a model presents (see above).
  std::vector<BaseStateVariableClass*> variablesOf(BaseModelClass* m);
  // Declares one variable of process m, or records that m uses a shared
  // variable declared before.
  void declareVariable(BaseModelClass* m, BaseStateVariableClass* sv, int parentId, bool atomic);
  void writeInteractions(BaseModelClass* m);
  UsedStateName* findUsed(const std::string& fullName);
  // The process whose declaration names the variable.
  int processOf(BaseStateVariableClass* sv, BaseActionClass* action);
  void writeValue(BaseStateVariableClass* sv);

  std::vector<UsedStateName> usedStateNames_;
  std::map<BaseModelClass*, std::vector<BaseStateVariableClass*>> modelMap_;
  std::map<BaseStateVariableClass*, int> declaredIn_;
  std::set<std::string> interactionsWritten_;
  int nextInteraction_ = 0;
  int batch_ = -1;
  double lastFiringTime_ = 0.0;
  bool headerWritten_ = false;
  bool closed_ = false;
};

#endif
