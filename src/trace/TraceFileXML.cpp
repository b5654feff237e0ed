#include "trace/TraceFileXML.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "base/BaseActionClass.h"
#include "base/BaseModelClass.h"
#include "rewards/PVModel.h"
#include "state/BaseStateVariableClass.h"

const char* const TraceFileXML::kDTDLocation = "jMSCVis_trace.dtd";

std::string TraceFileXML::escape(const std::string& text) {
  if (text.find_first_of("&<>\"") == std::string::npos) return text;
  std::string escaped;
  escaped.reserve(text.size() + 16);
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// ---- header ---------------------------------------------------------------

void TraceFileXML::printHeader(PVModel* pv) {
  if (!out_ || batch_ != -1 || headerWritten_) return;
  headerWritten_ = true;
  // Interaction ids continue after the action ids so that no two elements
  // of the document share an id.
  nextInteraction_ = BaseActionClass::MaxID;
  std::ostream& os = *out_;
  os << "<?xml version=\"1.0\" encoding=\"utf-8\" ?>" << std::endl;
  os << "<!DOCTYPE Trace" << std::endl;
  os << "  SYSTEM \"" << kDTDLocation << "\">" << std::endl;
  os << "<Trace model=\"Example_Tarvex\" generator=\"manually_generated\" >" << std::endl;
  os << "<Comment> Purpose of this trace: demonstration </Comment>" << std::endl;
  os << "<!-- TESTING declaration of processes -->" << std::endl;
  os << "<!-- Trace file of model Example_Tarvex -->" << std::endl;
  BaseModelClass* child = pv ? pv->getChildModel() : nullptr;
  if (child) printHeader(child, child->getModelId());
  os << "<Interactions>" << std::endl;
  if (child) printHeaderInteractions(child);
  os << "</Interactions>" << std::endl;
  os << "<!-- process sequence -->" << std::endl;
  os << "<Sequence type=\"StateActionType\">" << std::endl;
}

std::vector<BaseStateVariableClass*> TraceFileXML::variablesOf(BaseModelClass* m) {
  std::vector<BaseStateVariableClass*> leaves;
  bool atomic = m->GetModelType() == 1;
  BaseStateVariableClass** svs =
      atomic ? m->GetLocalStateVariables(out_) : m->GetSharedStateVariables();
  if (!svs) return leaves;
  int count = m->getNumStateVariables();
  for (int i = 0; i < count; i++) {
    if (!svs[i]) {
      if (atomic) continue;
      break;  // a composed model's list of shared variables ends here
    }
    List<BaseStateVariableClass>* list = svs[i]->getLeafNodes();
    for (BaseStateVariableClass* leaf : *list) leaves.push_back(leaf);
    delete list;
  }
  return leaves;
}

TraceFileXML::UsedStateName* TraceFileXML::findUsed(const std::string& fullName) {
  for (UsedStateName& u : usedStateNames_)
    if (u.name == fullName) return &u;
  return nullptr;
}

bool TraceFileXML::inUsedStateName(const char* fullName) const {
  if (!fullName) return false;
  for (const UsedStateName& u : usedStateNames_)
    if (u.name == fullName) return true;
  return false;
}

bool TraceFileXML::addUsedStateName(const char* fullName, int processIndex, int parentIndex) {
  if (!fullName || inUsedStateName(fullName)) return false;
  usedStateNames_.push_back(UsedStateName{fullName, processIndex, parentIndex, {}});
  return true;
}

const std::vector<BaseStateVariableClass*>* TraceFileXML::getModelMap(const char* name,
                                                                      int index) const {
  for (const auto& entry : modelMap_) {
    const char* modelName = entry.first->getName();
    if (entry.first->getModelId() == index && modelName && name &&
        std::strcmp(modelName, name) == 0)
      return &entry.second;
  }
  return nullptr;
}

void TraceFileXML::declareVariable(BaseModelClass* m, BaseStateVariableClass* sv, int parentId,
                                   bool atomic) {
  const std::string full = sv->getFullName();
  int index = m->getModelId();
  bool declare = true;
  if (sv->getShared()) {
    declare = addUsedStateName(full.c_str(), index, parentId);
    UsedStateName* used = findUsed(full);
    if (atomic && used &&
        std::find(used->touches.begin(), used->touches.end(), index) == used->touches.end())
      used->touches.push_back(index);
  }
  if (!declare) return;
  modelMap_[m].push_back(sv);
  declaredIn_[sv] = index;
  const std::string id = escape(full);
  *out_ << "<Var id=\"p" << index << id << "\" name=\"" << id << "\" />" << std::endl;
}

void TraceFileXML::printHeader(BaseModelClass* m, int parentId) {
  if (!out_ || !m || batch_ != -1) return;
  std::ostream& os = *out_;
  const int index = m->getModelId();
  const char* name = m->getName();
  if (!name) {
    os.setstate(std::ios::failbit);
    return;
  }
  modelMap_[m];  // every declared model has an entry, even without variables
  if (m->GetModelType() == 1) {
    os << "<Process id=\"p" << index << "\" name=\"" << escape(name) << index << "\" >"
       << std::endl;
    m->SetParentId(parentId);
    BaseActionClass** actions = m->getActions();
    for (int i = 0; actions && i < m->getNumActions(); i++) {
      BaseActionClass* a = actions[i];
      if (!a) continue;
      // An action that changes a shared variable declared by an earlier
      // process belongs to that process's declaration.
      bool declaredElsewhere = false;
      for (BaseStateVariableClass* sv : a->AffectedSVs)
        if (inUsedStateName(sv->getFullName().c_str())) declaredElsewhere = true;
      if (declaredElsewhere) continue;
      os << "<Action id=\"a" << a->ID << "\" name=\"" << escape(a->getName()) << "\" />"
         << std::endl;
    }
    for (BaseStateVariableClass* sv : variablesOf(m)) declareVariable(m, sv, parentId, true);
    os << "</Process>" << std::endl;
    return;
  }
  os << "<Process id=\"p" << index << "\" name=\"" << escape(name) << "\" >" << std::endl;
  for (BaseStateVariableClass* sv : variablesOf(m)) declareVariable(m, sv, parentId, false);
  os << "</Process>" << std::endl;
  for (int i = 0; i < m->GetNumberOfChildren(); i++) printHeader(m->GetChild(i), index);
}

void TraceFileXML::printHeaderInteractions(BaseModelClass* m) {
  if (!out_ || !m) return;
  interactionsWritten_.clear();
  writeInteractions(m);
}

void TraceFileXML::writeInteractions(BaseModelClass* m) {
  if (!m) return;
  for (BaseStateVariableClass* sv : variablesOf(m)) {
    if (!sv->getShared()) continue;
    const std::string full = sv->getFullName();
    UsedStateName* used = findUsed(full);
    if (!used || used->touches.size() < 2 || !interactionsWritten_.insert(full).second) continue;
    *out_ << "<Undiraction id=\"a" << nextInteraction_++ << "\" name=\"" << escape(full) << "\">"
          << std::endl;
    for (int process : used->touches) *out_ << "<Touch>p" << process << "</Touch>" << std::endl;
    *out_ << "</Undiraction>" << std::endl;
  }
  if (m->GetModelType() == 1) return;
  for (int i = 0; i < m->GetNumberOfChildren(); i++) writeInteractions(m->GetChild(i));
}

// ---- records --------------------------------------------------------------

void TraceFileXML::writeValue(BaseStateVariableClass* sv) {
  std::ostringstream value;
  sv->printStateVal(&value);
  *out_ << escape(value.str());
}

void TraceFileXML::printInitialState(BaseModelClass* m) {
  if (!recording() || !m) return;
  *out_ << "<S>" << std::endl;
  printState(m);
  *out_ << "</S>" << std::endl;
}

void TraceFileXML::printState(BaseModelClass* m) {
  if (!recording() || !m) return;
  auto traced = modelMap_.find(m);
  if (traced != modelMap_.end()) {
    for (BaseStateVariableClass* sv : traced->second) {
      *out_ << "<V id=\"p" << m->getModelId() << escape(sv->getFullName()) << "\" val=\"";
      writeValue(sv);
      *out_ << "\" />" << std::endl;
    }
  }
  if (m->GetModelType() == 1) return;
  for (int i = 0; i < m->GetNumberOfChildren(); i++) printState(m->GetChild(i));
}

void TraceFileXML::printState(PVModel*) {}
void TraceFileXML::printPreFireAction(BaseActionClass*) {}

void TraceFileXML::printFireAction(BaseActionClass*, double time) {
  if (recording()) lastFiringTime_ = time;
}

int TraceFileXML::processOf(BaseStateVariableClass* sv, BaseActionClass* action) {
  auto declared = declaredIn_.find(sv);
  if (declared != declaredIn_.end()) return declared->second;
  if (sv->getShared())
    if (UsedStateName* used = findUsed(sv->getFullName())) return used->process;
  return action->Model ? action->Model->getModelId() : 0;
}

void TraceFileXML::printPostFireAction(BaseActionClass* action, BaseActionClass*) {
  if (!recording() || !action) return;
  *out_ << "<A id=\"a" << action->ID << "\" t=\"" << formatTime(lastFiringTime_) << "\">"
        << std::endl;
  for (BaseStateVariableClass* sv : action->AffectedSVs) {
    *out_ << "  <V id=\"p" << processOf(sv, action) << escape(sv->getFullName()) << "\"  val=\"";
    writeValue(sv);
    *out_ << "\" />" << std::endl;
  }
  *out_ << "</A>" << std::endl;
}

// ---- batches and closing --------------------------------------------------

void TraceFileXML::close() {
  if (!out_ || !headerWritten_ || closed_) return;
  closed_ = true;
  *out_ << "</Sequence>" << std::endl;
  *out_ << "</Trace>" << std::endl;
}

void TraceFileXML::newBatch() {
  // The counter stops at 2: every later batch behaves alike.
  if (batch_ < 2) batch_++;
  if (batch_ == 1) close();
}

void TraceFileXML::printFooter() { close(); }
