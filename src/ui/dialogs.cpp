#include "ui/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                            const QString& text, QMessageBox::StandardButtons buttons) {
    auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, parent);
    box->setTextFormat(Qt::PlainText);
    return box;
}

namespace {

QMessageBox::StandardButton Ask(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                                QMessageBox::StandardButtons buttons) {
    return static_cast<QMessageBox::StandardButton>(MakeMessageBox(parent, icon, caption, text, buttons)->exec());
}

}  // namespace

void TMessageBoxDialogs::Warning(QWidget* parent, const QString& text) {
    Ask(parent, QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok);
}

void TMessageBoxDialogs::Error(QWidget* parent, const QString& text) {
    Ask(parent, QMessageBox::Critical, QStringLiteral("Quellmere"), text, QMessageBox::Ok);
}

void TMessageBoxDialogs::ErrorBox(QWidget* parent, const QString& caption, const QString& text) {
    Ask(parent, QMessageBox::Critical, caption, text, QMessageBox::Ok);
}

bool TMessageBoxDialogs::Question(QWidget* parent, const QString& text) {
    return Ask(parent, QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

QString TMessageBoxDialogs::OpenFile(QWidget* parent) { return QFileDialog::getOpenFileName(parent); }

QString TMessageBoxDialogs::SaveFile(QWidget* parent, const QString& suggestedName) {
    return QFileDialog::getSaveFileName(parent, QString(), suggestedName);
}
