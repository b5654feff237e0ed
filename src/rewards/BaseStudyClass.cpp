#include "rewards/BaseStudyClass.h"

#include <cstdio>
#include <cstring>
#include <iostream>

BaseStudyClass::~BaseStudyClass() = default;

PVModel* BaseStudyClass::GetPVModel(bool) { return ThePVModel; }
void BaseStudyClass::SetGVs(int) { std::cout << "basestudyclass::SetGVs" << std::endl; }
void BaseStudyClass::PrintGlobalValues(int) {}
void* BaseStudyClass::GetGVValue(const char*) { return nullptr; }
void BaseStudyClass::OverrideGVValue(const char*, void*) {}
PVModel* BaseStudyClass::NewPVModel(bool) { return nullptr; }

const char* BaseStudyClass::GetExpName(int i) {
  std::snprintf(expName_, sizeof expName_, "Experiment %d", i + 1);
  return expName_;
}

const std::string* BaseStudyClass::DeclaredType(const char* name) const {
  for (size_t i = 0; i < GVNames.size() && i < GVTypes.size(); i++)
    if (GVNames[i] == name) return GVTypes[i].empty() ? nullptr : &GVTypes[i];
  return nullptr;
}

void BaseStudyClass::overrideGVs(const char* text) {
  if (!text) return;
  std::vector<char> copy(text, text + std::strlen(text) + 1);
  char* save = nullptr;
  char* typeToken = strtok_r(copy.data(), ":", &save);
  while (typeToken) {
    char* name = strtok_r(nullptr, ":", &save);
    char* value = name ? strtok_r(nullptr, ":", &save) : nullptr;
    if (!name || !value) {
      std::cout << "Not enough double override tokens" << std::flush;
      return;
    }
    // A study reads a value through the pointer as its variable's own type:
    // a value of another type would be read at the wrong size (past its end
    // when the variable is wider), so a letter that is not the first of the
    // declared type skips the triple.
    const char letter = typeToken[0];
    const std::string* declared = DeclaredType(name);
    if (declared && (*declared)[0] != letter && std::strchr("bcdfils", letter)) {
      std::cout << "Type " << letter << " does not match Global Variable " << name << " ("
                << *declared << ")\n"
                << std::flush;
      typeToken = strtok_r(nullptr, ":", &save);
      continue;
    }
    // A value text that does not convert passes the target's initial zero.
    switch (letter) {
      case 'b': {
        short s = 0;
        std::sscanf(value, "%hi", &s);
        bool b = s != 0;
        OverrideGVValue(name, &b);
        break;
      }
      case 'c': {
        char c = value[0];
        OverrideGVValue(name, &c);
        break;
      }
      case 'd': {
        double d = 0;
        std::sscanf(value, "%lf", &d);
        OverrideGVValue(name, &d);
        break;
      }
      case 'f': {
        float f = 0;
        std::sscanf(value, "%f", &f);
        OverrideGVValue(name, &f);
        break;
      }
      case 'i': {
        int i = 0;
        std::sscanf(value, "%i", &i);
        OverrideGVValue(name, &i);
        break;
      }
      case 'l': {
        int l = 0;  // a 32-bit long
        std::sscanf(value, "%i", &l);
        OverrideGVValue(name, &l);
        break;
      }
      case 's': {
        short s = 0;
        std::sscanf(value, "%hi", &s);
        OverrideGVValue(name, &s);
        break;
      }
      default:
        std::cout << "Type " << letter << " not recognized\n" << std::flush;
        break;
    }
    typeToken = strtok_r(nullptr, ":", &save);
  }
}
