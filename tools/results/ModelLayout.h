// The measures of the model a study runs, for the programs that label,
// decode and compare its observations without simulating it.
#ifndef TARVEX_TOOLS_RESULTS_MODELLAYOUT_H
#define TARVEX_TOOLS_RESULTS_MODELLAYOUT_H

#include <iosfwd>
#include <string>

#include "rewards/MeasureLayout.h"

// The name that stands for the compiled-in model; anything else names a
// model file.
extern const char kBuiltInModel[];

// Opens the model `model` (kBuiltInModel or a model file's path) and fills
// *layout with its measures. A file with problems: each is written to errors
// as "FILE:LINE:COLUMN: message", and the result is false.
bool OpenModelLayout(const std::string& model, MeasureLayout* layout, std::ostream& errors);

// A short name of the model for titles: kBuiltInModel, or the file's name
// without its directory and extension.
std::string ModelTitle(const std::string& model);

#endif
