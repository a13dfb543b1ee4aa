// What the maker's windows share: the platform they read and write files through, and
// the one message sink for the build job's boxes.
#pragma once
#include "maker_platform.h"
#include "platform.h"

MakerPlatform& ThePlatform();

// Shows the build job's questions and warnings as boxes of the application.
class ApplicationMessages : public MessageSink {
 public:
  bool Show(const char* text, const char* title, MessageKind kind) override;
};
