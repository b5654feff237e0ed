// The text of the manager's file command (command 3): "name;number;;", the
// name of a binary result file to create and a replication limit. A sender
// that transmits the text as a C string may include its terminating NUL.
#ifndef TARVEX_SIMULATOR_FILECOMMAND_H
#define TARVEX_SIMULATOR_FILECOMMAND_H

#include <cstddef>
#include <cstdint>
#include <string>

// Parses `length` bytes of text (any bytes; null text only with length 0).
// True with the name (non-empty, without NUL) and the limit (1 to
// 2147483647, decimal digits only); false with a one-line reason in *error
// that quotes the text only in printable form. Outputs may be null.
bool ParseFileCommand(const char* text, size_t length, std::string* name, int32_t* limit,
                      std::string* error);

#endif
