// Decimal texts of report figures, the same digits as the printf formats the reports name.
//
// "%I64u", "%I32u" and "%d" are Microsoft printf formats; these helpers give their
// digits on every platform without going through printf, so no locale and no format
// string portability question enters a report.
#pragma once

#include <cstdint>
#include <string>

namespace vexa::report {

// Appends the decimal digits of `value` ("%I64u" / "%I32u"). Any thread.
void AppendUnsigned(std::string& out, std::uint64_t value);
// Appends the decimal text of `value`, with a leading '-' when negative ("%d"). Any thread.
void AppendSigned(std::string& out, std::int64_t value);

// The same as texts of their own.
[[nodiscard]] std::string UnsignedText(std::uint64_t value);
[[nodiscard]] std::string SignedText(std::int64_t value);

}  // namespace vexa::report
