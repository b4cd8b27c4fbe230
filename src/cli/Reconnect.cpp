// A port that hangs up and comes back, from the command line (--reconnect).
#include <iostream>

#include "cli/Session.h"
#include "serial/PortReopener.h"

namespace vindelor::cli {

std::string LostPortText(Session& s) { return "Port lost: " + s.port().ResolvedDevicePath(); }

bool Session::reconnect(const std::function<bool()>& cancelled) {
    sink_.endEchoLine();
    std::cerr << LostPortText(*this) << " \u2014 waiting for it to return" << std::endl;
    thread_.reset();  // it has ended; stopped before its port is reopened
    serial::PortReopener reopener;
    if (!reopener.reopen(*port_, cancelled)) return false;
    thread_ = std::make_unique<protocol::RecvThread>(port_.get(), &sink_);
    std::cerr << "Port back" << std::endl;
    return true;
}

}  // namespace vindelor::cli
