#include "ui/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

void TMessageBoxDialogs::Warning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Warning"), text, QMessageBox::Ok);
}

void TMessageBoxDialogs::Error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Quellmere"), text, QMessageBox::Ok);
}

void TMessageBoxDialogs::ErrorBox(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
}

bool TMessageBoxDialogs::Question(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QStringLiteral("Confirm"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

QString TMessageBoxDialogs::OpenFile(QWidget* parent) { return QFileDialog::getOpenFileName(parent); }

QString TMessageBoxDialogs::SaveFile(QWidget* parent, const QString& suggestedName) {
    return QFileDialog::getSaveFileName(parent, QString(), suggestedName);
}
