#include "app/GuardedApplication.h"

#include "util/CodedError.h"

namespace vindelor::app {

namespace {

std::string WithDetail(const char* text, const char* detail) {
    std::string s = text;
    if (detail && *detail) s += std::string("\n") + detail;
    return s;
}

}  // namespace

std::string ErrorReportText(const std::exception& e) {
    // The serial layer's and the firmware layer's errors alike.
    if (const auto* coded = dynamic_cast<const util::CodedError*>(&e)) return WithDetail(coded->Text, coded->Detail);
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
