#include "windows/MessageBox.h"

#include <QMessageBox>

namespace {
MessageBoxAnswerer& answerer()
{
    static MessageBoxAnswerer instance;
    return instance;
}
} // namespace

void ShowMessage(QWidget* parent, const QString& text, const QString& title)
{
    if (answerer()) {
        answerer()(title, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void SetMessageBoxAnswerer(MessageBoxAnswerer newAnswerer)
{
    answerer() = std::move(newAnswerer);
}
