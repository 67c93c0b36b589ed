#include "platform/uColumnData.h"

void TColumnData::AppendNull() {
  MarkNull();
  switch (Kind) {
  case TFieldKind::Integer:
    Int32.push_back(0);
    break;
  case TFieldKind::Int64:
    Int64.push_back(0);
    break;
  case TFieldKind::Float:
    Float.push_back(0);
    break;
  case TFieldKind::DateTime:
    Int64.push_back(0);
    Int32.push_back(0);
    break;
  default:
    Ends.push_back(Kind == TFieldKind::Decimal ? Bytes.size() : Chars.size());
    break;
  }
}

void TColumnData::AppendText(const QString& text) {
  if (Kind == TFieldKind::Decimal) {
    const QByteArray latin = text.toLatin1();
    Bytes.insert(Bytes.end(), latin.constData(), latin.constData() + latin.size());
  } else {
    const auto* p = reinterpret_cast<const char16_t*>(text.utf16());
    Chars.insert(Chars.end(), p, p + text.size());
  }
  EndText();
}

void TColumnData::ClearValues() {
  Count = 0;
  Null.clear();
  Int32.clear();
  Int64.clear();
  Float.clear();
  Chars.clear();
  Bytes.clear();
  Ends.clear();
}

namespace {
template <typename T> void Append(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
}
} // namespace

void TColumnData::AppendValues(const TColumnData& other) {
  if (!other.Null.empty() || !Null.empty()) {
    if (Null.empty()) Null.assign(Count, 0);
    if (other.Null.empty())
      Null.insert(Null.end(), other.Count, 0);
    else
      Append(Null, other.Null);
  }
  Append(Int32, other.Int32);
  Append(Int64, other.Int64);
  Append(Float, other.Float);
  const std::size_t base = Kind == TFieldKind::Decimal ? Bytes.size() : Chars.size();
  Append(Chars, other.Chars);
  Append(Bytes, other.Bytes);
  Ends.reserve(Ends.size() + other.Ends.size());
  for (const std::size_t end : other.Ends)
    Ends.push_back(base + end);
  Count += other.Count;
}

namespace {
template <typename T> void Gather(std::vector<T>& v, const std::vector<int>& order) {
  if (v.empty()) return;
  std::vector<T> out;
  out.reserve(order.size());
  for (const int r : order)
    out.push_back(v[std::size_t(r)]);
  v.swap(out);
}
} // namespace

void TColumnData::Reorder(const std::vector<int>& order) {
  Gather(Null, order);
  Gather(Int32, order);
  Gather(Int64, order);
  Gather(Float, order);
  if (!Ends.empty()) {
    std::vector<char16_t> chars;
    std::vector<char> bytes;
    std::vector<std::size_t> ends;
    ends.reserve(order.size());
    for (const int r : order) {
      const std::size_t row = std::size_t(r);
      const std::size_t begin = row ? Ends[row - 1] : 0;
      if (Kind == TFieldKind::Decimal) {
        bytes.insert(bytes.end(), Bytes.begin() + std::ptrdiff_t(begin),
                     Bytes.begin() + std::ptrdiff_t(Ends[row]));
        ends.push_back(bytes.size());
      } else {
        chars.insert(chars.end(), Chars.begin() + std::ptrdiff_t(begin),
                     Chars.begin() + std::ptrdiff_t(Ends[row]));
        ends.push_back(chars.size());
      }
    }
    Chars.swap(chars);
    Bytes.swap(bytes);
    Ends.swap(ends);
  }
}
