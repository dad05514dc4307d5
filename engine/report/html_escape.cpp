// HTML escaping of texts that come from a volume (paths, names) before they enter a report.
#include "report/html_escape.h"

namespace vexa::report {

void AppendEscapedHtml(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c; break;
    }
  }
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  AppendEscapedHtml(out, text);
  return out;
}

}  // namespace vexa::report
