#pragma once
// Which controls are enabled or visible in each state of the session. Both
// front ends apply the answer to their own controls.

// The flags the rules read.
struct TSessionFlags {
    bool isActive = false;
    bool isHandshaking = false;
    bool isTransferring = false;
    bool debugMode = false;
    bool isLogging = false;
};

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
TControlStates FixControlsRules(const TSessionFlags& flags);
