#include "results/ModelLayout.h"

#include <filesystem>
#include <memory>
#include <ostream>
#include <vector>

#include "model/FileStudy.h"
#include "model/ModelFile.h"
#include "model/studyRangeStudy.h"
#include "rewards/BaseStudyClass.h"
#include "rewards/PVModel.h"

const char kBuiltInModel[] = "attack_flow";

bool OpenModelLayout(const std::string& model, MeasureLayout* layout, std::ostream& errors) {
  // A study of its own, not the process-wide one, which a simulator in this
  // process may be using.
  std::unique_ptr<BaseStudyClass> study;
  if (model == kBuiltInModel) {
    study = std::make_unique<studyRangeStudy>();
  } else {
    auto description = std::make_shared<ModelDescription>();
    std::vector<ModelFileError> problems;
    if (!LoadModelFile(model, description.get(), &problems)) {
      for (const ModelFileError& e : problems) errors << e.Format() << "\n";
      errors.flush();
      return false;
    }
    study = std::make_unique<FileStudy>(description);
  }
  std::unique_ptr<PVModel> rewards(study->NewPVModel(true));
  if (!rewards) return false;
  *layout = rewards->Measures();
  return true;
}

std::string ModelTitle(const std::string& model) {
  if (model == kBuiltInModel) return model;
  return std::filesystem::path(model).stem().string();
}
