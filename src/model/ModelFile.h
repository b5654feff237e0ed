// ModelFile: reads an attack model from a TOML file (the format is described
// in docs/model-format.md) into a ModelDescription, checking everything a
// modeller can get wrong and saying where.
#ifndef TARVEX_MODEL_MODELFILE_H
#define TARVEX_MODEL_MODELFILE_H

#include <string>
#include <vector>

#include "model/ModelDescription.h"

// One problem in a model file, at a 1-based line and column (0 when the
// problem concerns the file as a whole).
struct ModelFileError {
  std::string path;
  int line = 0;
  int column = 0;
  std::string message;

  // "PATH:LINE:COLUMN: message" ("PATH: message" without a place).
  std::string Format() const;
};

// Reads and checks the model file at path. On success fills *description and
// returns true; otherwise appends every problem found (at most a few dozen;
// the file's shape and names are checked before its formulas) to *errors and returns false, leaving *description in an
// unspecified state.
bool LoadModelFile(const std::string& path, ModelDescription* description,
                   std::vector<ModelFileError>* errors);

// The same for a model given as text; path is only used in messages.
bool LoadModelText(const std::string& text, const std::string& path,
                   ModelDescription* description, std::vector<ModelFileError>* errors);

// Where the model file named on a command line is: nameOrPath itself when
// a file of that path exists; otherwise "<name>.toml" (".toml" added unless
// present) in the installed models directory, PREFIX/share/tarvex/models,
// where PREFIX is the parent of the running program's directory. When
// neither exists, nameOrPath unchanged (so that the error names it).
std::string FindModelFile(const std::string& nameOrPath);

#endif
