#include "trace/TraceFile.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <locale>
#include <sstream>

#include "base/BaseModelClass.h"

int TraceLevel = 1;

TraceFile::TraceFile() : level_(1) { TraceLevel = 1; }

TraceFile::TraceFile(const char* fileName) : level_(0) {
  if (!fileName) {
    std::cerr << "ERROR: cannot open trace file: no file name given" << std::endl;
    return;
  }
  errno = 0;
  owned_.reset(new (std::nothrow) std::ofstream(fileName, std::ios::out | std::ios::trunc));
  int reason = errno;
  if (!owned_) {
    std::cerr << "ERROR: cannot open trace file " << fileName << ": not enough memory" << std::endl;
    return;
  }
  out_ = owned_.get();
  if (!owned_->is_open()) {
    // The failed stream is kept: whatever the writer writes is then dropped.
    std::cerr << "ERROR: cannot open trace file " << fileName;
    if (reason != 0) std::cerr << ": " << std::strerror(reason);
    std::cerr << std::endl;
  }
}

TraceFile::TraceFile(std::ostream* out) : level_(0), out_(out) {}

TraceFile::~TraceFile() = default;

void TraceFile::printHeader(PVModel*) {}
void TraceFile::printFooter() {}
void TraceFile::printInitialState(BaseModelClass*) {}
void TraceFile::printState(BaseModelClass*) {}
void TraceFile::printState(PVModel*) {}
void TraceFile::printFireAction(BaseActionClass*, double) {}
void TraceFile::printPreFireAction(BaseActionClass*) {}
void TraceFile::printPostFireAction(BaseActionClass*, BaseActionClass*) {}
void TraceFile::newBatch() {}
void TraceFile::printf(int, const char*, ...) {}
void TraceFile::printStr(int, const char*) {}

void TraceFile::setTraceLevel(int level) {
  level_ = level;
  TraceLevel = level;
}

std::string TraceFile::formatTime(double time) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << time;
  return text.str();
}

bool TraceFile::writeModelTag(std::ostream& os, BaseModelClass* m) {
  if (!m || !m->getName()) {
    os.setstate(std::ios::failbit);
    return false;
  }
  os << "(" << m->getModelId() << ")" << m->getName();
  return true;
}
