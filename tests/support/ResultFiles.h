// The simulator's result files, decoded independently of it. The binary file
// is 256 bytes of header text (padded with NULs) and then observation
// records in network byte order: length (4), client (1), experiment (2),
// entry count (2), and per entry the PV (2), the kind (1: values, 2:
// squares), the count (4) and that many doubles. The ASCII file has two
// header lines, one "PV,value" line per observation and the trailer.
#ifndef TARVEX_TESTS_SUPPORT_RESULTFILES_H
#define TARVEX_TESTS_SUPPORT_RESULTFILES_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace support {

struct Entry {
  int pv = 0;
  int kind = 0;
  std::vector<double> values;
};
struct Record {
  uint32_t length = 0;
  int client = 0;
  int experiment = 0;
  std::vector<Entry> entries;
};

inline uint64_t bigEndian(const std::string& b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; i++) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

// Decodes one whole record; false when its fields do not add up to exactly
// its bytes.
inline bool decodeRecord(const std::string& b, Record* r) {
  if (b.size() < 9 || bigEndian(b, 0, 4) != b.size()) return false;
  r->length = static_cast<uint32_t>(b.size());
  r->client = static_cast<int>(bigEndian(b, 4, 1));
  r->experiment = static_cast<int16_t>(bigEndian(b, 5, 2));
  const int count = static_cast<int>(bigEndian(b, 7, 2));
  size_t at = 9;
  r->entries.clear();
  for (int e = 0; e < count; e++) {
    if (at + 7 > b.size()) return false;
    Entry entry;
    entry.pv = static_cast<int>(bigEndian(b, at, 2));
    entry.kind = static_cast<int>(bigEndian(b, at + 2, 1));
    const int32_t c = static_cast<int32_t>(bigEndian(b, at + 3, 4));
    at += 7;
    if (c < 0 || at + 8 * static_cast<size_t>(c) > b.size()) return false;
    for (int32_t k = 0; k < c; k++, at += 8) {
      uint64_t bits = bigEndian(b, at, 8);
      double v;
      std::memcpy(&v, &bits, sizeof v);
      entry.values.push_back(v);
    }
    r->entries.push_back(std::move(entry));
  }
  return at == b.size();
}

// Hands every record of a stream positioned after the header to `visit`,
// with its bytes; false when the stream does not end on a whole record.
inline bool forEachRecord(std::istream& in,
                          const std::function<void(const Record&, const std::string&)>& visit) {
  for (std::string bytes(4, '\0');; bytes.assign(4, '\0')) {
    if (!in.read(&bytes[0], 4)) return in.gcount() == 0;
    const uint64_t length = bigEndian(bytes, 0, 4);
    if (length < 9) return false;
    bytes.resize(length);
    Record r;
    if (!in.read(&bytes[4], static_cast<std::streamsize>(length - 4)) || !decodeRecord(bytes, &r))
      return false;
    visit(r, bytes);
  }
}

struct BinaryFile {
  bool whole = false;  // the body ends on a record boundary, every record decodes
  std::string header;  // the header text up to its padding
  std::string body;    // the bytes of the records that decode
  std::vector<Record> records;

  // The number after "BATCHES=" in the header, or -1.
  long batches() const {
    size_t at = header.find("BATCHES=");
    return at == std::string::npos ? -1 : std::atol(header.c_str() + at + 8);
  }
  // The observations (values entries) of one PV, in order.
  std::vector<double> series(int pv) const {
    std::vector<double> out;
    for (const Record& r : records)
      for (const Entry& e : r.entries)
        if (e.pv == pv && e.kind == 1) out.insert(out.end(), e.values.begin(), e.values.end());
    return out;
  }
  // One row per replication: the observation of every PV.
  std::vector<std::vector<double>> rows(int numPVs) const {
    std::vector<std::vector<double>> rows;
    for (int pv = 0; pv < numPVs; pv++) {
      std::vector<double> s = series(pv);
      if (rows.size() < s.size()) rows.resize(s.size(), std::vector<double>(numPVs, -1.0));
      for (size_t k = 0; k < s.size(); k++) rows[k][pv] = s[k];
    }
    return rows;
  }
};

inline BinaryFile parseBinary(const std::string& file) {
  BinaryFile f;
  if (file.size() < 256) return f;
  f.header = file.substr(0, 256);
  f.header.resize(f.header.find('\0') == std::string::npos ? 256 : f.header.find('\0'));
  std::istringstream in(file.substr(256));
  f.whole = forEachRecord(in, [&](const Record& r, const std::string& bytes) {
    f.records.push_back(r);
    f.body += bytes;
  });
  return f;
}

inline BinaryFile readBinary(const std::string& path) {
  if (!fileExists(path)) return BinaryFile();
  return parseBinary(readFile(path));
}

// Splits a text into lines without their line feeds; a text ending in a line
// feed ends with an empty line.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  lines.push_back(text.substr(start));
  return lines;
}

// The observation lines of an ASCII file (between the two header lines and
// the trailer) as PV and value text.
struct AsciiLine {
  int pv;
  std::string value;
};
inline std::vector<AsciiLine> asciiObservations(const std::string& text) {
  std::vector<std::string> lines = splitLines(text);
  std::vector<AsciiLine> result;
  for (size_t i = 2; i + 2 < lines.size(); i++) {
    size_t comma = lines[i].find(',');
    result.push_back({std::atoi(lines[i].c_str()),
                      comma == std::string::npos ? "?" : lines[i].substr(comma + 1)});
  }
  return result;
}

// Empty when the binary file is whole and its header's BATCHES counts
// exactly the observations of every PV in its records, and the ASCII file
// (unless its path is empty) holds as many observations of every PV and a
// trailer with the same count; otherwise what is wrong. *batches receives
// the binary header's count.
inline std::string resultFilesDisagree(const std::string& binPath, const std::string& asciiPath, int numPVs,
                                       long* batches = nullptr) {
  BinaryFile f = readBinary(binPath);
  if (batches) *batches = f.batches();
  if (!f.whole) return binPath + " does not end on a whole record";
  for (int pv = 0; pv < numPVs; pv++)
    if (static_cast<long>(f.series(pv).size()) != f.batches())
      return "PV " + std::to_string(pv) + " has " + std::to_string(f.series(pv).size()) +
             " observations in the records, the header says " + std::to_string(f.batches());
  if (asciiPath.empty()) return "";
  const std::string text = readFile(asciiPath);
  const std::string trailer = "#META_DATA,BATCHES=" + std::to_string(f.batches()) + "\n";
  if (text.size() < trailer.size() || text.compare(text.size() - trailer.size(), trailer.size(), trailer) != 0)
    return asciiPath + " does not end with " + trailer;
  std::vector<long> counts(static_cast<size_t>(numPVs), 0);
  for (const AsciiLine& line : asciiObservations(text))
    if (line.pv >= 0 && line.pv < numPVs) counts[static_cast<size_t>(line.pv)]++;
  for (int pv = 0; pv < numPVs; pv++)
    if (counts[static_cast<size_t>(pv)] != f.batches())
      return asciiPath + " has " + std::to_string(counts[static_cast<size_t>(pv)]) + " observations of PV " +
             std::to_string(pv);
  return "";
}

}  // namespace support

#endif
