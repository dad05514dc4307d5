// Decimal texts of report figures, the same digits as the printf formats the reports name.
#include "report/number_text.h"

#include <charconv>

namespace vexa::report {

void AppendUnsigned(std::string& out, std::uint64_t value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void AppendSigned(std::string& out, std::int64_t value) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

std::string UnsignedText(std::uint64_t value) {
  std::string out;
  AppendUnsigned(out, value);
  return out;
}

std::string SignedText(std::int64_t value) {
  std::string out;
  AppendSigned(out, value);
  return out;
}

}  // namespace vexa::report
