// The interface of a notifier handle, as the exports see it.
#pragma once

#include "YvCom.h"

namespace ylvane {

class IYvNotifier : public IUnknown {
 public:
  // Delivers the queued messages on the calling thread; a null callback
  // discards them.
  virtual HRESULT ProcessMessages(YV_NOTIFY_CALLBACK Callback, void* UserData) = 0;
};

}  // namespace ylvane
