#include "model/studyRangeStudy.h"

#include <iostream>

#include "model/rewardPVModel.h"

namespace {
BaseStudyClass* theStudy = nullptr;
}

BaseStudyClass* GenerateStudy() {
  if (!theStudy) theStudy = new studyRangeStudy();
  return theStudy;
}

void DestructStudy() {
  delete theStudy;
  theStudy = nullptr;
}

studyRangeStudy::studyRangeStudy() {
  NumGVs = 0;
  NumExps = 1;
}

studyRangeStudy::~studyRangeStudy() { delete ThePVModel; }

PVModel* studyRangeStudy::GetPVModel(bool expandTimePoints) {
  delete ThePVModel;
  ThePVModel = nullptr;
  ThePVModel = new rewardPVModel(expandTimePoints);
  return ThePVModel;
}

PVModel* studyRangeStudy::NewPVModel(bool expandTimePoints) {
  return new rewardPVModel(expandTimePoints);
}

void studyRangeStudy::SetGVs(int) {}

void studyRangeStudy::PrintGlobalValues(int) {
  std::cout << "There are no global variables." << std::endl;
}

void* studyRangeStudy::GetGVValue(const char* name) {
  std::cerr << "!! studyRangeStudy::GetGVValue: Global Variable " << (name ? name : "")
            << " does not exist." << std::endl;
  return nullptr;
}

void studyRangeStudy::OverrideGVValue(const char* name, void*) {
  std::cerr << "!! studyRangeStudy::OverrideGVValue: Global Variable " << (name ? name : "")
            << " does not exist." << std::endl;
}
