// Unicode simple case folding: the one-to-one mapping under which two names that
// differ only in case become equal.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `c` folded (its C or S mapping of CaseFolding.txt); `c` itself when it has none.
char32_t SimpleCaseFold(char32_t c);

// True when some other character folds to `c`: `c` is the folded (lower) form of a
// letter that has an upper-case form.
bool HasUpperCase(char32_t c);

// The simple upper-case form of `c` as folding sees it: a character that folds to `c`
// (the first by code point), or `c` itself when none does.
char32_t SimpleUpperCase(char32_t c);

// UTF-8 `text` with every character folded; bytes that are not valid UTF-8 are kept
// as they are.
std::string FoldUtf8(std::string_view text);

}  // namespace platform
