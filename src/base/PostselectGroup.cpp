#include "base/PostselectGroup.h"

#include <iostream>

#include "base/StandardErrors.h"

PostselectGroup::PostselectGroup(int n) {
  enlargeArrays(n);
  NumMembers = n;
}

void PostselectGroup::NoMembers(const char* operation) {
  std::cerr << "!! PostselectGroup::" << operation << ": group " << Name << " has no members"
            << std::endl;
  TARVEX_ASSERT(NumMembers > 0 && Members[0]);
}

BaseActionClass* PostselectGroup::Fire() {
  SelectAction();
  BaseActionClass* result = selected("Fire()")->Fire();
  SelectedAction = nullptr;
  return result;
}
