#include "trace/TraceFileTarvex.h"

#include <iostream>

#include "base/BaseActionClass.h"
#include "base/BaseModelClass.h"
#include "rewards/PVModel.h"
#include "state/BaseStateVariableClass.h"

void TraceFileTarvex::printHeader(PVModel*) {
  if (!out_) return;
  *out_ << "**************************************" << std::endl;
  *out_ << "\t\tTRACE" << std::endl;
  *out_ << "**************************************" << std::endl;
}

void TraceFileTarvex::printFooter() {}

void TraceFileTarvex::newBatch() {
  if (!out_) return;
  *out_ << "##### NEW BATCH #####" << std::endl;
}

void TraceFileTarvex::printInitialState(BaseModelClass* m) {
  if (!out_) return;
  *out_ << "Initial Model State:" << std::endl;
  printState(m);
}

void TraceFileTarvex::printState(PVModel* pv) {
  if (!out_) return;
  *out_ << "Model State:" << std::endl;
  if (pv) printState(pv->getChildModel());
}

void TraceFileTarvex::printVariable(const char* indent, BaseStateVariableClass* sv) {
  *out_ << indent << sv->getFullName() << " = ";
  sv->printStateVal(out_);
  *out_ << std::endl;
}

void TraceFileTarvex::printState(BaseModelClass* m) {
  if (!out_ || !m) return;
  *out_ << "  Model: ";
  if (!writeModelTag(*out_, m)) return;
  *out_ << std::endl;
  BaseStateVariableClass** svs = m->GetLocalStateVariables(out_);
  int count = m->getNumStateVariables();
  if (svs && count >= 1) {
    for (int i = 0; i < count; i++) {
      if (!svs[i]) continue;
      List<BaseStateVariableClass>* leaves = svs[i]->getLeafNodes();
      for (BaseStateVariableClass* leaf : *leaves) printVariable("    ", leaf);
      delete leaves;
    }
  }
  for (int i = 0; i < m->GetNumberOfChildren(); i++) printState(m->GetChild(i));
}

void TraceFileTarvex::printFireAction(BaseActionClass* action, double time) {
  if (!out_ || !action || level_ < 1) return;
  *out_ << "#### Firing: " << formatTime(time) << "  Action: ";
  if (!writeModelTag(*out_, action->Model)) return;
  *out_ << "->" << action->getName() << std::endl;
}

void TraceFileTarvex::printPreFireAction(BaseActionClass* action) {
  if (!out_ || !action || level_ < 2) return;
  *out_ << "Enabling state before action firing:" << std::endl;
  BaseActionClass* printed = action->getPrintedAction();
  if (!printed) return;
  for (BaseStateVariableClass* sv : printed->EnablingSVs) printVariable("  ", sv);
}

void TraceFileTarvex::printPostFireAction(BaseActionClass* action, BaseActionClass*) {
  if (!out_ || !action || level_ < 1) return;
  *out_ << "#### After: ";
  if (!writeModelTag(*out_, action->Model)) return;
  *out_ << "->" << action->getName() << std::endl;
  if (level_ < 2) return;
  *out_ << "Affected state after firing: " << std::endl;
  for (BaseStateVariableClass* sv : action->AffectedSVs) printVariable("  ", sv);
}

void TraceFileTarvex::printStr(int level, const char* text) {
  if (!out_ || !text || level > level_) return;
  *out_ << text << std::flush;
}
