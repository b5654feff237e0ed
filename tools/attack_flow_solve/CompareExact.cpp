#include "attack_flow_solve/CompareExact.h"

#include <cstdio>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "attack_flow_solve/ExactSolver.h"
#include "attack_flow_solve/SolveProgram.h"
#include "model/FileStudy.h"
#include "model/ModelCatalogue.h"
#include "results/FileOutput.h"
#include "results/Results.h"
#include "simulator/SimulatorClass.h"

namespace solver {

namespace {

const char kProgram[] = "attack_flow_solve";

// The study of the model: how many experiments it has (1 without global
// variables) and their names ("" for a compiled study).
struct StudyFacts {
  int count = 1;
  std::unique_ptr<BaseStudyClass> study;
  std::string Name(unsigned number) const {
    const auto* file = dynamic_cast<const FileStudy*>(study.get());
    return file && study->GetNumGVs() > 0 ? file->ExperimentName(static_cast<int>(number)) : "defaults";
  }
};

// Solves one experiment; the exit status (kExitSolved on success).
int SolveExperiment(const ProgramOptions& options, unsigned experiment, StudyResults* results,
                    std::ostream& err) {
  ExperimentChoice choice = options.choice;
  choice.hasExperiment = true;
  choice.experiment = experiment;
  int setUpStatus = 0;
  std::unique_ptr<SimulatorClass> sim = BuildSimulator(options.modelPath, &setUpStatus, choice);
  if (!sim) {
    err << kProgram << ": cannot set up the model " << options.modelPath << " in experiment "
        << experiment << std::endl;
    return setUpStatus != 0 ? setUpStatus : kExitUnsolvable;
  }
  std::string error;
  bool solved;
  {
    ExactSolver exact(*sim);
    solved = exact.Solve(results, &error);
  }
  DestroySimulator(sim);
  if (!solved) {
    err << kProgram << ": cannot solve experiment " << experiment << " exactly: " << error << std::endl;
    return kExitUnsolvable;
  }
  return kExitSolved;
}

void WriteDifferenceCsv(std::ostream& out, const StudyResults& a, const StudyResults& b) {
  out << "pv_id,name,time,mean_a,mean_b,difference\n";
  for (size_t i = 0; i < a.nodes.size(); i++) {
    const NodeResult& x = a.nodes[i];
    const NodeResult& y = b.nodes[i];
    out << x.pvId << "," << CsvField(x.name) << "," << ResultNumber(x.time) << "," << ResultNumber(x.mean)
        << "," << ResultNumber(y.mean) << "," << ResultNumber(y.mean - x.mean) << "\n";
  }
}

// Text as a JSON string (names are plain, but quotes and control
// characters must not break the document).
std::string JsonText(const std::string& text) {
  std::string s = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
      s += escape;
    } else {
      s += c;
    }
  }
  return s + "\"";
}

void WriteDifferenceJson(std::ostream& out, const StudyResults& a, const StudyResults& b, unsigned numberA,
                         unsigned numberB, const StudyFacts& facts) {
  out << "{\n  \"method\": \"exact\",\n  \"experiment_a\": " << numberA
      << ",\n  \"name_a\": " << JsonText(facts.Name(numberA)) << ",\n  \"experiment_b\": " << numberB
      << ",\n  \"name_b\": " << JsonText(facts.Name(numberB)) << ",\n  \"nodes\": [";
  for (size_t i = 0; i < a.nodes.size(); i++) {
    const NodeResult& x = a.nodes[i];
    const NodeResult& y = b.nodes[i];
    out << (i ? "," : "") << "\n    {\"pv_id\": " << x.pvId << ", \"name\": " << JsonText(x.name)
        << ", \"time\": " << ResultNumber(x.time) << ", \"mean_a\": " << ResultNumber(x.mean)
        << ", \"mean_b\": " << ResultNumber(y.mean) << ", \"difference\": " << ResultNumber(y.mean - x.mean)
        << "}";
  }
  out << "\n  ]\n}\n";
}

}  // namespace

int RunComparison(const ProgramOptions& options, std::ostream& out, std::ostream& err) {
  StudyFacts facts;
  {
    std::ostringstream ignored;
    facts.study = ModelCatalogue::OpenStudy(
        options.modelPath.empty() ? ModelCatalogue::kDefaultModel : options.modelPath, ignored);
  }
  if (facts.study && facts.study->GetNumGVs() > 0) facts.count = facts.study->GetNumExps();
  for (unsigned number : {options.compareA, options.compareB})
    if (facts.study && number >= static_cast<unsigned>(facts.count)) {
      err << kProgram << ": --compare " << number << ": the model's study has " << facts.count
          << (facts.count == 1 ? " experiment, numbered 0"
                               : " experiments, numbered 0 to " + std::to_string(facts.count - 1))
          << std::endl;
      return kExitBadOptions;
    }
  StudyResults a, b;
  int status = SolveExperiment(options, options.compareA, &a, err);
  if (status == kExitSolved) status = SolveExperiment(options, options.compareB, &b, err);
  if (status != kExitSolved) return status;

  bool ok = true;
  if (options.csv)
    ok = WriteOutput(options.csvPath, "CSV", [&](std::ostream& o) { WriteDifferenceCsv(o, a, b); }, out, err) &&
         ok;
  if (options.json)
    ok = WriteOutput(options.jsonPath, "JSON",
                 [&](std::ostream& o) {
                   WriteDifferenceJson(o, a, b, options.compareA, options.compareB, facts);
                 },
                 out, err) &&
         ok;
  const bool stdoutTaken = (options.csv && options.csvPath == "-") || (options.json && options.jsonPath == "-");
  if (!stdoutTaken) {
    // The table of differences, laid out as the table of means.
    StudyResults difference = b;
    for (size_t i = 0; i < difference.nodes.size(); i++) difference.nodes[i].mean -= a.nodes[i].mean;
    out << "Exact difference, experiment " << options.compareB << " (" << facts.Name(options.compareB)
        << ") minus experiment " << options.compareA << " (" << facts.Name(options.compareA) << "):\n";
    WriteTable(out, difference);
    if (!FlushSucceeded(out)) {
      err << kProgram << ": cannot write the table to standard output" << std::endl;
      ok = false;
    }
  }
  return ok ? kExitSolved : kExitUnsolvable;
}

}  // namespace solver
