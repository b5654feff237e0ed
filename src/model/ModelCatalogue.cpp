#include "model/ModelCatalogue.h"

#include <filesystem>
#include <iostream>

#include "model/FileStudy.h"
#include "model/ModelFile.h"
#include "model/studyRangeStudy.h"

namespace {

// The models compiled into this build, the default first. Adding one is a
// line here.
struct CompiledModel {
  const char* name;
  std::unique_ptr<BaseStudyClass> (*make)();
};

const CompiledModel kCompiledModels[] = {
    {ModelCatalogue::kDefaultModel,
     []() -> std::unique_ptr<BaseStudyClass> { return std::make_unique<studyRangeStudy>(); }},
};

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The compiled model with exactly that name, or null.
const CompiledModel* FindCompiled(const std::string& name) {
  for (const CompiledModel& m : kCompiledModels)
    if (name == m.name) return &m;
  return nullptr;
}

}  // namespace

std::vector<std::string> ModelCatalogue::CompiledNames() {
  std::vector<std::string> names;
  for (const CompiledModel& m : kCompiledModels) names.push_back(m.name);
  return names;
}

std::string ModelCatalogue::Resolve(const std::string& nameOrFile) {
  return FindCompiled(nameOrFile) ? nameOrFile : FindModelFile(nameOrFile);
}

std::unique_ptr<BaseStudyClass> ModelCatalogue::OpenStudy(const std::string& nameOrFile,
                                                          std::ostream& errors) {
  if (const CompiledModel* compiled = FindCompiled(nameOrFile)) return compiled->make();
  const std::string path = FindModelFile(nameOrFile);

  const bool looksLikePath =
      nameOrFile.find('/') != std::string::npos || EndsWith(nameOrFile, ".toml");
  std::error_code ec;
  if (!looksLikePath && !std::filesystem::exists(path, ec)) {
    errors << "ERROR: no model named " << nameOrFile << ": the compiled models are";
    const char* separator = " ";
    for (const CompiledModel& m : kCompiledModels) {
      errors << separator << m.name;
      separator = ", ";
    }
    errors << ", and no model file of that name exists here or among the installed models\n"
           << std::flush;
    return nullptr;
  }

  auto description = std::make_shared<ModelDescription>();
  std::vector<ModelFileError> problems;
  if (!LoadModelFile(path, description.get(), &problems)) {
    for (const ModelFileError& e : problems) errors << e.Format() << "\n";
    errors.flush();
    return nullptr;
  }
  return std::make_unique<FileStudy>(description);
}
