#include "model/FileStudy.h"

#include <chrono>
#include <iomanip>
#include <iostream>

#include "model/FilePVModel.h"

FileStudy::FileStudy(std::shared_ptr<const ModelDescription> description,
                     FileKORVELModel::FaultHandler onFault)
    : description_(std::move(description)), onFault_(std::move(onFault)) {
  const ModelDescription& d = *description_;
  NumGVs = static_cast<int>(d.globals.size());
  NumExps = d.experiments.empty() ? 1 : static_cast<int>(d.experiments.size());
  typed_.resize(d.globals.size());
  for (size_t g = 0; g < d.globals.size(); g++) {
    GVNames.push_back(d.globals[g].name);
    GVTypes.push_back(GlobalTypeName(d.globals[g].type));
    values_.push_back(0.0);
    SetValue(g, d.globals[g].value);
  }
}

FileStudy::~FileStudy() { delete ThePVModel; }

PVModel* FileStudy::GetPVModel(bool expandTimePoints) {
  delete ThePVModel;
  ThePVModel = nullptr;
  ThePVModel = new FilePVModel(description_, expandTimePoints, onFault_, values_);
  return ThePVModel;
}

PVModel* FileStudy::NewPVModel(bool expandTimePoints) {
  return new FilePVModel(description_, expandTimePoints, onFault_, values_);
}

void FileStudy::SetValue(size_t g, double value) {
  values_[g] = value;
  Typed& t = typed_[g];
  switch (description_->globals[g].type) {
    case GlobalType::kBool: t.b = value != 0; break;
    case GlobalType::kChar: t.c = static_cast<char>(static_cast<int>(value)); break;
    case GlobalType::kDouble: t.d = value; break;
    case GlobalType::kFloat: t.f = static_cast<float>(value); break;
    case GlobalType::kInt:
    case GlobalType::kLong: t.i = static_cast<int>(value); break;
    case GlobalType::kShort: t.s = static_cast<short>(value); break;
  }
}

void FileStudy::ValuesChanged() {
  if (ThePVModel) static_cast<FilePVModel*>(ThePVModel)->fileModel()->SetGlobalValues(values_);
}

void FileStudy::SetGVs(int experiment) {
  const ModelDescription& d = *description_;
  if (d.globals.empty() || experiment < 0 || experiment >= NumExps) return;
  for (size_t g = 0; g < d.globals.size(); g++)
    SetValue(g, d.experiments.empty() ? d.globals[g].value : d.experiments[experiment].values[g]);
  ValuesChanged();
}

const std::string& FileStudy::ExperimentName(int i) const {
  const ModelDescription& d = *description_;
  if (i >= 0 && i < static_cast<int>(d.experiments.size())) return d.experiments[i].name;
  return defaultsName_;
}

void FileStudy::PrintValues(std::ostream& out) const {
  const ModelDescription& d = *description_;
  for (size_t g = 0; g < d.globals.size(); g++)
    out << d.globals[g].name << " (" << GlobalTypeName(d.globals[g].type)
        << ") = " << GlobalValueText(d.globals[g].type, values_[g]) << "\n";
  out.flush();
}

void FileStudy::PrintGlobalValues(int experiment) {
  if (NumGVs == 0) {
    std::cout << "There are no global variables." << std::endl;
    return;
  }
  SetGVs(experiment);
  std::cout << "The Global Variable values for experiment " << GetExpName(experiment) << " are:"
            << std::endl;
  PrintValues(std::cout);
}

void* FileStudy::GetGVValue(const char* name) {
  for (size_t g = 0; name && g < GVNames.size(); g++)
    if (GVNames[g] == name) return &typed_[g];
  std::cerr << "!! FileStudy::GetGVValue: Global Variable " << (name ? name : "")
            << " does not exist." << std::endl;
  return nullptr;
}

void FileStudy::OverrideGVValue(const char* name, void* value) {
  for (size_t g = 0; name && value && g < GVNames.size(); g++) {
    if (GVNames[g] != name) continue;
    // The value is of the variable's declared type (overrideGVs checks the
    // type letter).
    double v = 0.0;
    switch (description_->globals[g].type) {
      case GlobalType::kBool: v = *static_cast<bool*>(value) ? 1 : 0; break;
      case GlobalType::kChar: v = *static_cast<char*>(value); break;
      case GlobalType::kDouble: v = *static_cast<double*>(value); break;
      case GlobalType::kFloat: v = *static_cast<float*>(value); break;
      case GlobalType::kInt:
      case GlobalType::kLong: v = *static_cast<int*>(value); break;
      case GlobalType::kShort: v = *static_cast<short*>(value); break;
    }
    SetValue(g, v);
    ValuesChanged();
    return;
  }
  std::cerr << "!! FileStudy::OverrideGVValue: Global Variable " << (name ? name : "")
            << " does not exist." << std::endl;
}

void FileStudy::PrintSummary(std::ostream& out) {
  const ModelDescription& d = *description_;
  FileKORVELModel model(description_, onFault_, values_);
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
  if (!d.globals.empty())
    out << "Globals: " << d.globals.size()
        << " (the decision below under their defaults); experiments: " << NumExps << "\n";
  // A fresh model: its memo holds what its construction's decision left, so
  // the decision is timed on a model whose look-ahead remembers nothing.
  model.ParametersChanged();
  model.BeginSearch();
  Step* best = nullptr;
  double payoff = 0, cost = 0, detection = 0;
  uint64_t before = model.memoisedEvaluations();
  auto start = std::chrono::steady_clock::now();
  model.exploreStateSpaceMemoised(model.planningHorizon, &best, &payoff, &cost, &detection);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
  uint64_t states = model.memoisedEvaluations() - before;
  size_t memoBytes = model.lookaheadMemo().bytes();
  uint64_t nodes = model.countSearchNodes(model.planningHorizon);
  if (!best) {
    out << "Initial decision: none is feasible" << std::endl;
  } else {
    out << std::setprecision(10) << "Initial decision: " << d.decisions[best->decisionIndex].name
        << " (planning horizon " << model.planningHorizon << "): expected cost " << cost
        << ", detection " << detection << ", payoff " << payoff << std::endl;
  }
  out << "Look-ahead: " << nodes << " nodes in the full search tree; " << states
      << " states evaluated in " << std::setprecision(3) << std::fixed << ms << " ms, memo "
      << (memoBytes + 1023) / 1024 << " KB" << std::defaultfloat << std::setprecision(6) << std::endl;
  // What the other programs' options refer to: the measures' instants (the
  // nodes of the results) and the experiments by number.
  for (const MeasureDescription& m : d.measures) {
    out << "Measure " << m.name << ": ";
    if (m.interval)
      out << "accumulated from " << m.start << ", ending at";
    else
      out << "at";
    for (double t : m.times) out << " " << t;
    out << "\n";
  }
  if (!d.globals.empty())
    for (int e = 0; e < NumExps; e++) out << "Experiment " << e << ": " << ExperimentName(e) << "\n";
  out << std::flush;
}
