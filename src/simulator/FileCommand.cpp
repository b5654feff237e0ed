#include "simulator/FileCommand.h"

#include <cstring>

namespace {

// The name as it may be shown in a message: printable ASCII as it is, every
// other byte as \xNN, cut after 60 bytes.
std::string Printable(const char* text, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (size_t i = 0; i < length && i < 60; i++) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
    }
  }
  if (length > 60) shown += "...";
  return shown;
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool ParseFileCommand(const char* text, size_t length, std::string* name, int32_t* limit,
                      std::string* error) {
  if (text == nullptr) length = 0;
  // A C string's terminator after the end marker is part of what was sent.
  if (length >= 3 && text[length - 1] == '\0' && text[length - 2] == ';' && text[length - 3] == ';')
    length--;
  if (length < 2 || text[length - 1] != ';' || text[length - 2] != ';')
    return Fail(error, "the text \"" + Printable(text, length) + "\" does not end with ;;");
  const size_t body = length - 2;
  const void* found = body > 0 ? std::memchr(text, ';', body) : nullptr;
  if (found == nullptr)
    return Fail(error, "the text \"" + Printable(text, length) + "\" is not name;number;;");
  const size_t separator = static_cast<size_t>(static_cast<const char*>(found) - text);
  if (separator == 0) return Fail(error, "the file name is empty");
  if (std::memchr(text, '\0', separator) != nullptr)
    return Fail(error, "the file name \"" + Printable(text, separator) + "\" contains a NUL byte");

  // The limit: decimal digits only, 1 to 2^31 - 1.
  const size_t first = separator + 1;
  if (first == body)
    return Fail(error, "the replication limit is missing in \"" + Printable(text, length) + "\"");
  long long value = 0;
  for (size_t i = first; i < body; i++) {
    const char c = text[i];
    if (c < '0' || c > '9')
      return Fail(error, "the replication limit \"" + Printable(text + first, body - first) +
                             "\" is not a whole number from 1 to 2147483647");
    value = value * 10 + (c - '0');
    if (value > 0x7fffffffLL)
      return Fail(error, "the replication limit \"" + Printable(text + first, body - first) +
                             "\" is above 2147483647");
  }
  if (value == 0) return Fail(error, "the replication limit must be at least 1, not 0");
  if (name) name->assign(text, separator);
  if (limit) *limit = static_cast<int32_t>(value);
  return true;
}
