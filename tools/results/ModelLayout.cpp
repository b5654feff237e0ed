#include "results/ModelLayout.h"

#include <filesystem>
#include <memory>
#include <ostream>
#include <vector>

#include "rewards/BaseStudyClass.h"
#include "rewards/PVModel.h"

bool OpenModelLayout(const std::string& model, MeasureLayout* layout, std::ostream& errors) {
  // A study of its own: a simulator in this process may be using another.
  std::unique_ptr<BaseStudyClass> study = ModelCatalogue::OpenStudy(model, errors);
  if (!study) return false;
  std::unique_ptr<PVModel> rewards(study->NewPVModel(true));
  if (!rewards) return false;
  *layout = rewards->Measures();
  return true;
}

std::string ModelTitle(const std::string& model) {
  for (const std::string& name : ModelCatalogue::CompiledNames())
    if (model == name) return model;
  return std::filesystem::path(model).stem().string();
}
