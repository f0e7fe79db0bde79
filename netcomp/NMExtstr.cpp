#include "netcomp/NMExtstr.h"

namespace {

// The name of a header line, and whether it has one at all.
bool HeaderName(const std::string& line, std::string& name) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) {
    name.clear();
    return false;
  }
  name = line.substr(0, colon);
  return true;
}

} // namespace

int TExStringList::IndexOfHeader(const std::string& name) const {
  std::string lineName;
  if (!Sorted()) {
    for (int i = 0; i < Count(); ++i)
      if (HeaderName((*this)[i], lineName) && AnsiCompareText(lineName, name) == 0) return i;
    return -1;
  }
  int low = 0;
  int high = Count() - 1;
  while (low <= high) {
    int middle = low + (high - low) / 2;
    HeaderName((*this)[middle], lineName);
    int cmp = AnsiCompareText(lineName, name);
    if (cmp == 0) return middle;
    if (cmp < 0)
      low = middle + 1;
    else
      high = middle - 1;
  }
  return -1;
}

void TExStringList::SetHeader(const std::string& name, const std::string& value) {
  int index = IndexOfHeader(name);
  if (value.empty()) {
    if (index != -1) Delete(index);
    return;
  }
  std::string line = name + ": " + value;
  if (Sorted()) {
    // A sorted list cannot replace a line in place; the new line takes its sorted position.
    if (index != -1) Delete(index);
    Add(line);
    return;
  }
  if (index == -1) index = Add("");
  Put(index, line);
}
