#include "results/Results.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

// Shortest text that reads back as the same double; whole numbers of usual
// size are written without an exponent.
std::string number(double v) {
  char buffer[64];
  if (v > -1e15 && v < 1e15 && v == static_cast<double>(static_cast<long long>(v))) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v));
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  double back = 0;
  for (int precision = 1; precision <= 17; precision++) {
    char shorter[64];
    std::snprintf(shorter, sizeof shorter, "%.*g", precision, v);
    if (std::sscanf(shorter, "%lf", &back) == 1 && back == v) return shorter;
  }
  return buffer;
}

// A JSON member holding a number. JSON has no infinities or NaN: such a
// value (only an overflow of the statistics can make one) is written as null
// with a sibling "<name>_note" saying so.
std::string jsonNumber(const char* name, double v) {
  const std::string key = std::string("\"") + name + "\": ";
  if (std::isfinite(v)) return key + number(v);
  return key + "null, \"" + name + "_note\": \"not finite (overflow)\"";
}

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string quoted = "\"";
  for (char c : s) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Splits one CSV line, honouring quoted fields.
std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        i++;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

std::string ResultNumber(double v) { return number(v); }

std::string CsvField(const std::string& text) { return csvField(text); }

void WriteCsv(std::ostream& out, const StudyResults& r) {
  out << "pv_id,name,time,n,mean,variance,lower,upper\n";
  for (const NodeResult& n : r.nodes)
    out << n.pvId << "," << csvField(n.name) << "," << number(n.time) << "," << n.n << ","
        << number(n.mean) << "," << number(n.variance) << "," << number(n.lower) << ","
        << number(n.upper) << "\n";
}

void WriteJson(std::ostream& out, const StudyResults& r) {
  out << "{\n  \"complete\": " << (r.complete ? "true" : "false") << ",\n"
      << "  \"method\": " << jsonString(r.method) << ",\n"
      << "  \"replications\": " << r.replications << ",\n"
      << "  " << jsonNumber("confidence", r.confidence) << ",\n"
      << "  \"nodes\": [";
  for (size_t i = 0; i < r.nodes.size(); i++) {
    const NodeResult& n = r.nodes[i];
    out << (i ? ",\n" : "\n") << "    {\"pv_id\": " << n.pvId << ", \"name\": " << jsonString(n.name)
        << ", " << jsonNumber("time", n.time) << ", \"n\": " << n.n << ", " << jsonNumber("mean", n.mean)
        << ", " << jsonNumber("variance", n.variance) << ", " << jsonNumber("lower", n.lower) << ", "
        << jsonNumber("upper", n.upper) << "}";
  }
  out << "\n  ]\n}\n";
}

void WriteTable(std::ostream& out, const StudyResults& r) {
  // Rows in order of first appearance of each PV name; columns by instant.
  std::vector<std::string> names;
  std::map<std::string, std::map<double, double>> means;
  std::map<double, bool> times;
  for (const NodeResult& n : r.nodes) {
    if (!means.count(n.name)) names.push_back(n.name);
    means[n.name][n.time] = n.mean;
    times[n.time] = true;
  }
  size_t width = 4;
  for (const std::string& name : names) width = std::max(width, name.size());
  out << std::left << std::setw(static_cast<int>(width)) << "PV";
  for (auto& t : times) out << " " << std::right << std::setw(6) << number(t.first);
  out << "\n";
  for (const std::string& name : names) {
    out << std::left << std::setw(static_cast<int>(width)) << name;
    for (auto& t : times) {
      auto it = means[name].find(t.first);
      if (it == means[name].end()) {
        out << " " << std::right << std::setw(6) << "-";
      } else {
        char cell[32];
        std::snprintf(cell, sizeof cell, "%6.4f", it->second);
        out << " " << cell;
      }
    }
    out << "\n";
  }
}

bool ReadCsv(std::istream& in, StudyResults* r, std::string* error) {
  std::string line;
  if (!std::getline(in, line) || line != "pv_id,name,time,n,mean,variance,lower,upper") {
    *error = "not a results file (its first line is not the results header)";
    return false;
  }
  int lineNo = 1;
  while (std::getline(in, line)) {
    lineNo++;
    if (line.empty()) continue;
    std::vector<std::string> f = splitCsv(line);
    NodeResult n;
    try {
      if (f.size() != 8) throw std::invalid_argument("field count");
      size_t used = 0;
      n.pvId = std::stoi(f[0], &used);
      if (used != f[0].size()) throw std::invalid_argument("pv_id");
      n.name = f[1];
      n.time = std::stod(f[2]);
      n.n = f[3].empty() ? 0 : std::stoll(f[3]);
      n.mean = std::stod(f[4]);
      n.variance = std::stod(f[5]);
      n.lower = std::stod(f[6]);
      n.upper = std::stod(f[7]);
    } catch (const std::exception&) {
      *error = "line " + std::to_string(lineNo) + " is not a results row: " + line;
      return false;
    }
    r->nodes.push_back(n);
  }
  return true;
}
