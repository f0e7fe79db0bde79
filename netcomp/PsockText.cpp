// The text field helpers of the socket component, apart from it so that they build without sockets.
#include "netcomp/Psock.h"

std::string NthWord(const std::string& s, char Delimiter, int n) {
  std::string result;
  int count = 0;
  for (char c : s) {
    if (c == Delimiter) {
      if (++count == n) break;
    } else if (count == n - 1) {
      result += c;
    }
  }
  return result;
}

int NthWordPos(const std::string& s, char Delimiter, int n) {
  if (s.empty()) throw ERangeError();
  int length = static_cast<int>(s.size());
  int count = 0;
  int i = 0;
  do {
    ++i;
    if (s[i - 1] == Delimiter) ++count;
  } while (count != n && i != length);
  return i == length ? length + 1 : i;
}
