#include "model/FileStudy.h"

#include <iomanip>
#include <iostream>

#include "model/FilePVModel.h"

FileStudy::FileStudy(std::shared_ptr<const ModelDescription> description,
                     FileKORVELModel::FaultHandler onFault)
    : description_(std::move(description)), onFault_(std::move(onFault)) {
  NumGVs = 0;
  NumExps = 1;
}

FileStudy::~FileStudy() { delete ThePVModel; }

PVModel* FileStudy::GetPVModel(bool expandTimePoints) {
  delete ThePVModel;
  ThePVModel = nullptr;
  ThePVModel = new FilePVModel(description_, expandTimePoints, onFault_);
  return ThePVModel;
}

PVModel* FileStudy::NewPVModel(bool expandTimePoints) {
  return new FilePVModel(description_, expandTimePoints, onFault_);
}

void FileStudy::SetGVs(int) {}

void FileStudy::PrintGlobalValues(int) {
  std::cout << "There are no global variables." << std::endl;
}

void* FileStudy::GetGVValue(const char* name) {
  std::cerr << "!! FileStudy::GetGVValue: Global Variable " << (name ? name : "")
            << " does not exist." << std::endl;
  return nullptr;
}

void FileStudy::OverrideGVValue(const char* name, void*) {
  std::cerr << "!! FileStudy::OverrideGVValue: Global Variable " << (name ? name : "")
            << " does not exist." << std::endl;
}

void FileStudy::PrintSummary(std::ostream& out) {
  const ModelDescription& d = *description_;
  FileKORVELModel model(description_, onFault_);
  int goals = 0;
  for (const VariableDescription& v : d.variables)
    if (v.kind == VariableKind::kGoal) goals++;
  out << "Model " << d.name << " (" << d.path << ")\n"
      << "Variables: " << d.variables.size() << " (" << goals << " goals; "
      << model.getNumStateVariables() << " with the decision bookkeeping)\n"
      << "Decisions: " << d.decisions.size() << "\n"
      << "Steps: " << d.numSteps() << "\n"
      << "Groups: " << model.numGroups() << "\n"
      << "Measures: " << d.measures.size() << "\n"
      << "Nodes: " << d.numNodes() << "\n";
  Step* best = nullptr;
  double payoff = 0, cost = 0, detection = 0;
  model.exploreStateSpace(model.planningHorizon, &best, &payoff, &cost, &detection);
  if (!best) {
    out << "Initial decision: none is feasible" << std::endl;
    return;
  }
  out << std::setprecision(10) << "Initial decision: " << d.decisions[best->decisionIndex].name
      << " (planning horizon " << model.planningHorizon << "): expected cost " << cost
      << ", detection " << detection << ", payoff " << payoff << std::endl;
}
