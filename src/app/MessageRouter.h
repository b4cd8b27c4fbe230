#pragma once

#include <cstdint>

#include "protocol/Messages.h"

namespace vindelor::app {

class TfrmMain;

// Hands each message of a worker thread to the tab or panel it is for, on the window thread.
// The window owns one; every tab stays a widget over its core logic and never sees a message
// number.
class MessageRouter {
  public:
    explicit MessageRouter(TfrmMain& window) : window_(window) {}

    void route(const protocol::Message& message);

  private:
    // One byte as "<XX>" into the "Recieved" memo, until the memo holds its limit.
    void appendReceived(std::int64_t value);

    TfrmMain& window_;
};

}  // namespace vindelor::app
