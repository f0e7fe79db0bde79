// The form encoder: percent-encodes text the way form posts carry it.
#pragma once

#include <functional>
#include <string>

#include "framework/Classes.h"

using TOnErrorEvent =
    std::function<void(TObject* Sender, const std::string& Operation, const std::string& ErrMsg)>;

class TNMURL : public TComponent {
public:
  explicit TNMURL(TComponent* AOwner) : TComponent(AOwner) {}

  std::string InputString;
  TOnErrorEvent OnError;

  // InputString encoded: space as "+", ASCII letters and digits as they are, every other byte as
  // "%" and two upper-case hex digits. On a failure OnError is told and the input comes back as is.
  std::string Encode();
};
