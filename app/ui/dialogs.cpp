#include "ui/dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {
namespace {
std::function<void(const QString&)> g_informationHook;
std::function<int(const QString&)> g_questionHook;
}  // namespace

void informationBox(QWidget* parent, const QString& text) {
    if (g_informationHook) {
        g_informationHook(text);
        return;
    }
    QMessageBox::information(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

int questionBox(QWidget* parent, const QString& text) {
    if (g_questionHook) return g_questionHook(text);
    auto answer = QMessageBox::question(parent, QApplication::applicationName(), text,
                                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? kResultOk : kResultCancel;
}

void setInformationHook(std::function<void(const QString&)> hook) { g_informationHook = std::move(hook); }
void setQuestionHook(std::function<int(const QString&)> hook) { g_questionHook = std::move(hook); }

}  // namespace ui
