// A string list that knows header lines of the form "Name: value".
#pragma once

#include <string>

#include "framework/Classes.h"

class TExStringList : public TStringList {
public:
  // Index of the first line whose text before its first ":" equals name (case-insensitively);
  // lines without ":" are passed over. -1 when there is none.
  int IndexOfHeader(const std::string& name) const;
  // Sets the line of that name to "name: value", appending it when missing; an empty value
  // removes the line.
  void SetHeader(const std::string& name, const std::string& value);
};
