// ModelCatalogue: where studies come from. A model is either compiled into
// this build (a small table of name -> factory) or read from a model file.
// Every call makes a new study that the caller owns, so that any number of
// studies, of the same model or of different ones, live in one process.
//
// A text names a compiled model when it is exactly one of CompiledNames();
// anything else is the path of a model file (a file that happens to be
// called like a compiled model is reached as ./NAME), or, when no such file
// exists, the name of an installed model (FindModelFile). A text that is
// none of these, and does not look like a path (no '/' and no ".toml"
// ending), is reported as an unknown model, listing the compiled names.
#ifndef TARVEX_MODEL_MODELCATALOGUE_H
#define TARVEX_MODEL_MODELCATALOGUE_H

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "rewards/BaseStudyClass.h"

class ModelCatalogue {
 public:
  static constexpr const char* kDefaultModel = "attack_flow";

  // A new study of the model with that name (a model compiled into this
  // build) or stored in the model file at that path; null after writing
  // each problem to errors ("FILE:LINE:COLUMN: message" for a file).
  static std::unique_ptr<BaseStudyClass> OpenStudy(const std::string& nameOrFile,
                                                   std::ostream& errors);
  // The text itself for a compiled model's name, else the model file it
  // stands for (FindModelFile): what OpenStudy will open.
  static std::string Resolve(const std::string& nameOrFile);
  // The names of the compiled models, the default first.
  static std::vector<std::string> CompiledNames();
};

#endif
