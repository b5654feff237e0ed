// BaseStudyClass: a study names a model's global variables and gives them
// values per experiment; it also creates the reward model.
#ifndef TARVEX_REWARDS_BASESTUDYCLASS_H
#define TARVEX_REWARDS_BASESTUDYCLASS_H

#include <string>
#include <vector>

class PVModel;

class BaseStudyClass {
 public:
  BaseStudyClass() = default;
  BaseStudyClass(const BaseStudyClass&) = delete;
  BaseStudyClass& operator=(const BaseStudyClass&) = delete;

  virtual ~BaseStudyClass();
  virtual PVModel* GetPVModel(bool expandTimePoints);
  virtual void SetGVs(int experiment);
  virtual void PrintGlobalValues(int experiment);
  virtual void* GetGVValue(const char* name);
  virtual void OverrideGVValue(const char* name, void* value);
  // Another, independent instance of the reward model (with its own atomic
  // model), owned by the caller; null when the study cannot make one.
  virtual PVModel* NewPVModel(bool expandTimePoints);

  int GetNumGVs() const { return NumGVs; }
  const char* GetGVName(int i) const { return GVNames[i].c_str(); }
  const char* GetGVType(int i) const { return GVTypes[i].c_str(); }
  int GetNumExps() const { return NumExps; }
  // "Experiment <i + 1>", in a buffer of this study that every call
  // overwrites.
  const char* GetExpName(int i);
  // Applies the overrides of a type:name:value:type:name:value... text. A
  // triple whose type letter is not the first letter of the named variable's
  // declared type is reported on standard output and skipped.
  void overrideGVs(const char* text);

 protected:
  std::vector<std::string> GVNames;
  // Each variable's C type name: bool, char, double, float, int, long (32
  // bits) or short; its first letter is the variable's override type letter.
  std::vector<std::string> GVTypes;
  PVModel* ThePVModel = nullptr;
  int NumGVs = 0;
  int NumExps = 0;

 private:
  char expName_[64] = {};
  // The declared type of the variable `name` (null when the study does not
  // list it or gives no type).
  const std::string* DeclaredType(const char* name) const;
};

// A study of the built-in model kept for the whole process (made on the
// first call), for callers that need just one; DestructStudy deletes it.
// Callers that may hold several studies open theirs from ModelCatalogue.
BaseStudyClass* GenerateStudy();
void DestructStudy();

#endif
