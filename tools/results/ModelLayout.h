// The measures of the model a study runs, for the programs that label,
// decode and compare its observations without simulating it.
#ifndef TARVEX_TOOLS_RESULTS_MODELLAYOUT_H
#define TARVEX_TOOLS_RESULTS_MODELLAYOUT_H

#include <iosfwd>
#include <string>

#include "model/ModelCatalogue.h"
#include "rewards/MeasureLayout.h"

// Opens the model `model` (a compiled model's name or a model file, as the
// catalogue takes them) and fills
// *layout with its measures. A file with problems: each is written to errors
// as "FILE:LINE:COLUMN: message", and the result is false.
bool OpenModelLayout(const std::string& model, MeasureLayout* layout, std::ostream& errors);

// A short name of the model for titles: a compiled model's name, or the file's name
// without its directory and extension.
std::string ModelTitle(const std::string& model);

#endif
