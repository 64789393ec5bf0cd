#include "sources/JsonBounds.h"

namespace vantorel {

bool LargerThanAnyRealAnswer(std::string_view text, int limit, std::size_t mostItems) {
  int depth = 0;
  std::size_t separators = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    } else if (c == ',' && depth == 1 && ++separators >= mostItems) {
      return true;
    }
  }
  return false;
}

}  // namespace vantorel
