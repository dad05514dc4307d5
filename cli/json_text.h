// Small JSON text helpers for --json output.
#pragma once

#include <string>

namespace cli {

// `text` as a JSON string literal, quotes included. Valid UTF-8 passes through; any
// other byte (a name in a single-byte code page) is taken as Latin-1 and written as \u00XX.
std::string JsonString(const std::string& text);

// `text` as a JSON number when it is a plain decimal integer, else as a JSON string.
std::string JsonNumberOrString(const std::string& text);

}  // namespace cli
