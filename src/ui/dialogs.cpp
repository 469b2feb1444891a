#include "ui/dialogs.h"

#include <QMessageBox>

void TMessageBoxDialogs::Warning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Warning"), text, QMessageBox::Ok);
}

void TMessageBoxDialogs::Error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Quellmere"), text, QMessageBox::Ok);
}
