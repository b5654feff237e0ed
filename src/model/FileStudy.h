// FileStudy: the study of a model file: one experiment, "Experiment 1", and
// no global variables; its reward models are FilePVModels of the file's
// description.
#ifndef TARVEX_MODEL_FILESTUDY_H
#define TARVEX_MODEL_FILESTUDY_H

#include <iosfwd>
#include <memory>
#include <string>

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
  void* GetGVValue(const char* name) override;
  void OverrideGVValue(const char* name, void* value) override;

  const ModelDescription& description() const { return *description_; }
  void SetFaultHandler(FileKORVELModel::FaultHandler onFault) { onFault_ = std::move(onFault); }

  // Writes what the model holds and the decision the adversary makes in
  // its initial state, with that decision's expected cost, detection and
  // payoff (builds a model of its own to find them).
  void PrintSummary(std::ostream& out);

 private:
  std::shared_ptr<const ModelDescription> description_;
  FileKORVELModel::FaultHandler onFault_;
};

#endif
