// studyRangeStudy: the study of this system: no global variables and one
// experiment, "Experiment 1".
#ifndef TARVEX_MODEL_STUDYRANGESTUDY_H
#define TARVEX_MODEL_STUDYRANGESTUDY_H

#include "rewards/BaseStudyClass.h"

class studyRangeStudy : public BaseStudyClass {
 public:
  studyRangeStudy();
  ~studyRangeStudy() override;

  // Replaces any reward model made before by a new one.
  PVModel* GetPVModel(bool expandTimePoints) override;
  PVModel* NewPVModel(bool expandTimePoints) override;
  void SetGVs(int experiment) override;
  void PrintGlobalValues(int experiment) override;
  void* GetGVValue(const char* name) override;
  void OverrideGVValue(const char* name, void* value) override;
};

#endif
