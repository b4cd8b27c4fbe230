#include "app/LinkJob.h"

#include "app/PortBusy.h"
#include "app/PortJob.h"
#include "app/Winbinform.h"
#include "serial/TSerErr.h"

namespace vindelor::app {

void RunLinkJob(TfrmMain& form, std::atomic<bool>& cancel,
                const std::function<void(protocol::RegisterLink&)>& job) {
    serial::TSerCom* port = form.port();
    if (!port || !port->IsOpen)
        throw serial::TSerErr(serial::TSerErr::Open, "Error opening serial port");
    PortBusy busy(form, {}, [&cancel] { cancel = true; });
    form.clearMemos();
    form.pauseReceiving();
    struct Resume {
        TfrmMain& window;
        ~Resume() { window.resumeReceiving(); }
    } resume{form};
    protocol::RegisterLink link(*port);
    RunPortJob([&] { job(link); });
}

}  // namespace vindelor::app
