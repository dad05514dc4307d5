// HTML escaping of texts that come from a volume (paths, names) before they enter a report.
#pragma once

#include <string>
#include <string_view>

namespace vexa::report {

// Appends `text` to `out` with the five characters that can start or end markup or an
// attribute value replaced: & < > " ' become &amp; &lt; &gt; &quot; &#39;. Every other
// byte is copied unchanged, so single-byte ANSI names keep their bytes. Any thread.
void AppendEscapedHtml(std::string& out, std::string_view text);

// The escaped copy of `text`. Any thread.
[[nodiscard]] std::string EscapeHtml(std::string_view text);

}  // namespace vexa::report
