#pragma once
// A single-line field that hides what is typed into it from system-wide
// keystroke loggers: each real character, and each time the field is entered
// (not when its window is merely re-activated), is followed by a burst of
// random keystrokes injected into the system's input, and the field drops as
// many of the characters that come after.

#include <QLineEdit>
#include <cstdint>
#include <memory>

#include "antikeylogger/keyboardbackend.h"

class TAntiKeyLoggerEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(int GarbageCount READ GarbageCount WRITE setGarbageCount)
    Q_PROPERTY(bool AntiKeyloggingActive READ AntiKeyloggingActive WRITE setAntiKeyloggingActive)

public:
    explicit TAntiKeyLoggerEdit(QWidget* parent = nullptr);

    // Bursts have a random size from 0 to GarbageCount - 1. Values below 1
    // mean no bursts; values above 32768 are cut to 32768.
    int GarbageCount() const { return garbageCount; }
    void setGarbageCount(int count);

    // Switching off keeps the drop count; it applies again once switched on.
    bool AntiKeyloggingActive() const { return antiKeyloggingActive; }
    void setAntiKeyloggingActive(bool active) { antiKeyloggingActive = active; }

    // Characters still to drop.
    int32_t PendingGarbage() const { return pendingGarbage; }

    // Defaults to DefaultKeyboardBackend().
    void setKeyboardBackend(std::shared_ptr<IKeyboardState> state, std::shared_ptr<IKeystrokeInjector> injector);

signals:
    // A character that reached the field (Return as '\r', Backspace as 0x08,
    // Esc as 0x1B), raised before the field handles it, so the owner can act
    // on Return or Esc. Dropped characters and non-character keys (arrows,
    // Delete, Home, Tab, function keys, ...) raise nothing.
    void keyPressed(QChar key);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The key-press signal, then the base field's handling.
    void ProcessCharacter(QChar key, QKeyEvent* event);
    void StartBurst();

    int garbageCount = 25;
    bool antiKeyloggingActive = true;
    int32_t pendingGarbage = 0;
    std::shared_ptr<IKeyboardState> keyboardState;
    std::shared_ptr<IKeystrokeInjector> injector;
};
