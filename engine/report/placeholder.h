// Placeholder replacement in report texts.
#pragma once

#include <string>
#include <string_view>

namespace vexa::report {

// Replaces every occurrence of `placeholder` in `text` by `value`, scanning from left to
// right; the inserted value is not scanned again by this call (a value that contains the
// placeholder stays as it is), though a later call with another placeholder does scan
// it. An empty placeholder changes nothing. Any thread.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);

}  // namespace vexa::report
