#pragma once
// One line per measured target, which scripts/bench gathers into its closing table:
//   @target<TAB>measure<TAB>target<TAB>figure<TAB>ratio<TAB>met
// A missed target is reported, never a failure of the benchmark.

#include <cstdio>
#include <string>

namespace Bench {

// `ratio` as the target states it (figure over the bare driver, over the bytes on the wire, over
// the limit); an empty `target` marks a figure reported without one.
inline void Target(const std::string& measure, const std::string& target, const std::string& figure,
                   const std::string& ratio, bool met) {
  std::printf("@target\t%s\t%s\t%s\t%s\t%s\n", measure.c_str(),
              target.empty() ? "-" : target.c_str(), figure.c_str(),
              ratio.empty() ? "-" : ratio.c_str(),
              target.empty() ? "-"
              : met          ? "yes"
                             : "NO");
  std::fflush(stdout);
}

inline std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

} // namespace Bench
