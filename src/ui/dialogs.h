#pragma once
// The boxes the window shows, behind one seam so tests can answer and observe
// them without a modal loop.

#include <QMessageBox>
#include <QString>
#include <memory>

class QWidget;

// A message box as every box of the window is made: its text is plain text,
// so a text that looks like markup (a peer's file name, say) is shown as it
// is, never laid out, linked or loaded.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                            const QString& text, QMessageBox::StandardButtons buttons);

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // A warning with the single button OK.
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // The application's error display: the error's text and nothing else.
    virtual void Error(QWidget* parent, const QString& text) = 0;
    // An error box with its own caption and the error icon.
    virtual void ErrorBox(QWidget* parent, const QString& caption, const QString& text) = 0;
    // A confirmation with Yes and No.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // The file-open dialog; empty when cancelled.
    virtual QString OpenFile(QWidget* parent) = 0;
    // The save dialog with a name filled in; empty when cancelled.
    virtual QString SaveFile(QWidget* parent, const QString& suggestedName) = 0;
};

// The real thing: modal message boxes.
class TMessageBoxDialogs final : public IDialogs {
public:
    void Warning(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
    void ErrorBox(QWidget* parent, const QString& caption, const QString& text) override;
    bool Question(QWidget* parent, const QString& text) override;
    QString OpenFile(QWidget* parent) override;
    QString SaveFile(QWidget* parent, const QString& suggestedName) override;
};
