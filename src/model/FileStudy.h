// FileStudy: the study of a model file: its global variables (none in many
// files) and its experiments (one, of the defaults, unless the file has a
// study section); its reward models are FilePVModels of the file's
// description under the values in force.
//
// The values in force are a table of this study, one double per global
// (the exact value of the variable's type); models take a copy when built
// and fold it into their formulas. Changing the values (SetGVs, an
// override) hands the new ones to the reward model made last, whose
// look-ahead then forgets its decisions.
#ifndef TARVEX_MODEL_FILESTUDY_H
#define TARVEX_MODEL_FILESTUDY_H

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "model/FileKORVELModel.h"
#include "model/ModelDescription.h"
#include "rewards/BaseStudyClass.h"

class FileStudy : public BaseStudyClass {
 public:
  // Faults of the models it makes go to onFault (see FileKORVELModel).
  explicit FileStudy(std::shared_ptr<const ModelDescription> description,
                     FileKORVELModel::FaultHandler onFault = nullptr);
  ~FileStudy() override;

  // Replaces any reward model made before by a new one.
  PVModel* GetPVModel(bool expandTimePoints) override;
  PVModel* NewPVModel(bool expandTimePoints) override;
  void SetGVs(int experiment) override;
  void PrintGlobalValues(int experiment) override;
  // A pointer to the variable's value in force, of its declared type (null,
  // with a message, for an unknown name).
  void* GetGVValue(const char* name) override;
  void OverrideGVValue(const char* name, void* value) override;

  // The readable name of experiment i (e.g. "mfa=0.5 profile=insider").
  const std::string& ExperimentName(int i) const;
  // One line per global variable: "<name> (<type>) = <value>", the value
  // in force as GlobalValueText writes it.
  void PrintValues(std::ostream& out) const;
  const std::vector<double>& values() const { return values_; }

  const ModelDescription& description() const { return *description_; }
  void SetFaultHandler(FileKORVELModel::FaultHandler onFault) { onFault_ = std::move(onFault); }

  // Writes what the model holds and the decision the adversary makes in
  // its initial state, with that decision's expected cost, detection and
  // payoff (builds a model of its own to find them).
  void PrintSummary(std::ostream& out);

 private:
  // Stores the value of global g (converted to the type already) and
  // hands the values to the live reward model.
  void SetValue(size_t g, double value);
  void ValuesChanged();

  std::shared_ptr<const ModelDescription> description_;
  FileKORVELModel::FaultHandler onFault_;
  std::vector<double> values_;
  // The same values as the variables' own types, for GetGVValue.
  union Typed {
    bool b;
    char c;
    double d;
    float f;
    int i;
    short s;
  };
  std::vector<Typed> typed_;
  std::string defaultsName_ = "defaults";
};

#endif
