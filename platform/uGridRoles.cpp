#include "platform/uGridRoles.h"

#include <algorithm>
#include <vector>

QStringList CollectLongestTexts(int rowCount, const std::function<int(int)>& length,
                                const std::function<QString(int)>& text, int limit) {
  std::vector<int> lengths(std::size_t(std::max(rowCount, 0)));
  int longest = -1;
  for (int r = 0; r < rowCount; ++r) {
    lengths[std::size_t(r)] = length(r);
    longest = std::max(longest, lengths[std::size_t(r)]);
  }
  if (longest <= 0) return {};
  // Texts a fifth shorter than the longest can still be wider in a proportional font only
  // when they are made of unusually wide letters; those are measured too.
  const int slack = std::max(1, longest / 5);
  std::vector<std::vector<int>> buckets(slack + 1);
  for (int r = 0; r < rowCount; ++r) {
    const int len = lengths[std::size_t(r)];
    if (len < 0 || len < longest - slack) continue;
    auto& bucket = buckets[longest - len];
    if (int(bucket.size()) < limit) bucket.push_back(r);
  }
  QStringList texts;
  for (const auto& bucket : buckets)
    for (int r : bucket) {
      if (texts.size() >= limit) return texts;
      texts.append(text(r));
    }
  return texts;
}
