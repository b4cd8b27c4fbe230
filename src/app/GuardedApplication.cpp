#include "app/GuardedApplication.h"

#include "firmware/TErr.h"
#include "serial/TSerErr.h"

namespace vindelor::app {

namespace {

std::string WithDetail(const char* text, const char* detail) {
    std::string s = text;
    if (detail && *detail) s += std::string("\n") + detail;
    return s;
}

}  // namespace

std::string ErrorReportText(const std::exception& e) {
    if (const auto* s = dynamic_cast<const serial::TSerErr*>(&e)) return WithDetail(s->Text, s->Detail);
    if (const auto* f = dynamic_cast<const firmware::TErr*>(&e)) return WithDetail(f->Text, f->Detail);
    return e.what();
}

void RunGuarded(protocol::Notifier& notifier, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        notifier.warning("Error", ErrorReportText(e));
    } catch (...) {
        notifier.warning("Error", "Unexpected error");
    }
}

GuardedApplication::GuardedApplication(int& argc, char** argv, protocol::Notifier& notifier)
    : QApplication(argc, argv), notifier_(notifier) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    RunGuarded(notifier_, [&] { result = QApplication::notify(receiver, event); });
    return result;
}

}  // namespace vindelor::app
