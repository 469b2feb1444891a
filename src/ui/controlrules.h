#pragma once
// Which of the window's controls are enabled or visible in each state of
// the session.

#include "session/sessionview.h"

struct TControlStates {
    // Listen and Connect (buttons and toolbar) and the four setting fields:
    // key size, listen port, remote host, remote port.
    bool connectionSetupEnabled = true;
    // Disconnect, button and toolbar.
    bool disconnectEnabled = false;
    // The text to send, and Send file (button and toolbar).
    bool sendingEnabled = false;
    // Log start and Log stop are shown together.
    bool loggingButtonsVisible = false;
    bool startLoggingEnabled = true;
    bool stopLoggingEnabled = false;
};

// Besides these, FixControls puts the progress bar back to 0 and the cursor
// back to the arrow.
TControlStates FixControlsRules(const TSessionState& state);
