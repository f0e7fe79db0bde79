#include "installer/view.h"

#include <utility>

#include "framework/Forms.h"

namespace {
TViewFactory& Factory() {
  static TViewFactory factory;
  return factory;
}
} // namespace

void TInstallerView::SetProgressMax(int max) {
  if (max < form1_layout::ProgressMin)
    throw EInvalidOperation(Format("%s property out of range", "TProgressBar"));
  if (max == ProgressMax()) return;
  DoSetProgressMax(max);
}

void TInstallerView::FireButton1Click() {
  SetChoicesEnabled(false);
  try {
    if (OnButton1Click) OnButton1Click();
  } catch (...) {
    SetChoicesEnabled(true);
    Application->HandleException(nullptr);
    return;
  }
  SetChoicesEnabled(true);
}

void TInstallerView::FireClosed() {
  try {
    if (OnClosed) OnClosed();
  } catch (...) {
    Application->HandleException(nullptr);
  }
}

TViewFactory SetViewFactory(TViewFactory factory) {
  return std::exchange(Factory(), std::move(factory));
}

std::unique_ptr<TInstallerView> CreateInstallerView() {
  if (!Factory()) throw Exception("No view for the installer window");
  return Factory()();
}
