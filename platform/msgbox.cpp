#include "platform/msgbox.h"

#include <utility>

namespace platform {

namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(Hook(), std::move(hook));
}

const MessageBoxHook& CurrentMessageBoxHook() {
  return Hook();
}

} // namespace platform
