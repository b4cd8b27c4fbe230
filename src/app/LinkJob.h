#pragma once

#include <atomic>
#include <functional>

#include "protocol/RegisterLink.h"

namespace vindelor::app {

class TfrmMain;

// Runs a job of register exchanges on the port borrowed from the receive thread, off the window
// thread (as RunPortJob runs it): every other control that sends is disabled meanwhile, a close
// request sets cancel, and the receive thread goes on afterwards whatever happened. Throws
// what the job throws; "Error opening serial port" when no port is open.
void RunLinkJob(TfrmMain& form, std::atomic<bool>& cancel,
                const std::function<void(protocol::RegisterLink&)>& job);

}  // namespace vindelor::app
