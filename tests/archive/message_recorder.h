// Installs a message hook that records what the Zip class shows, and removes it afterwards.
#pragma once

#include <string>
#include <vector>

#include "library/platform/hooks.h"

namespace vellum::archive::testing {

class MessageRecorder {
 public:
  MessageRecorder() {
    VellumHostHooks hooks{};
    hooks.struct_size = sizeof hooks;
    hooks.context = this;
    hooks.message_box = [](void* context, const char* text) {
      static_cast<MessageRecorder*>(context)->texts.emplace_back(text);
    };
    platform::SetHostHooks(&hooks);
  }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;
  ~MessageRecorder() { platform::SetHostHooks(nullptr); }

  std::vector<std::string> texts;
};

}  // namespace vellum::archive::testing
