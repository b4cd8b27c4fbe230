#pragma once

#include <QApplication>

#include <exception>
#include <functional>
#include <string>

#include "protocol/Notifier.h"

namespace vindelor::app {

// The one place where an error escaping an event handler ends up: its text is shown in a
// warning box and the program goes on. Serial errors show their detail line below the text.
std::string ErrorReportText(const std::exception& e);

// Runs an event handler; an error escaping it is shown through the notifier.
void RunGuarded(protocol::Notifier& notifier, const std::function<void()>& handler);

// The application object of the program: every event is delivered inside RunGuarded, so
// nothing a handler throws reaches the event loop.
class GuardedApplication : public QApplication {
public:
    GuardedApplication(int& argc, char** argv, protocol::Notifier& notifier);
    bool notify(QObject* receiver, QEvent* event) override;

private:
    protocol::Notifier& notifier_;
};

}  // namespace vindelor::app
