#include "app/MessageBoxNotifier.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Cp1252.h"

namespace vindelor::app {

namespace {

void Show(QMessageBox::Icon icon, const std::string& caption, const std::string& text) {
    QMessageBox box(icon, FromCp1252(caption), FromCp1252(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

}  // namespace

void MessageBoxNotifier::warning(const std::string& caption, const std::string& text) {
    Show(QMessageBox::Warning, caption, text);
}

void MessageBoxNotifier::information(const std::string& caption, const std::string& text) {
    Show(QMessageBox::NoIcon, caption, text);
}

}  // namespace vindelor::app
