#pragma once
// What the chat session tells a person, and the answers it needs from them.
// The window, the terminal program or a test implements it; the session
// never touches widgets. The window-only cues (attention, focus, the busy
// cursor, the text entry) do nothing unless a view wants them.

#include <cstdint>
#include <string>

#include "session/environment.h"
#include "session/phase.h"

// How a conversation ended, for front ends that act on it.
enum class TConnectionEnd {
    PeerLeft,         // the peer closed the connection
    LocalDisconnect,  // Disconnect here
    ReceiveError,     // what the peer sent broke the protocol
    ConnectFailed,    // the connection was never made
};

// What the session is doing, as the controls and the terminal follow it.
struct TSessionState {
    TPhase phase = TPhase::Idle;
    // The behaviour's flags: listening or connected; the key exchange runs.
    bool isActive = false;
    bool isHandshaking = false;
    // A file is being sent or received.
    bool isTransferring = false;
    // An offer of ours waits for its answer; a file of ours is on its way.
    bool isOffering = false;
    bool isSending = false;
    bool debugMode = false;
    bool isLogging = false;

    bool operator==(const TSessionState&) const = default;
};

// Where the text field's focus goes: always, or unless its anti-keylogging is on.
enum class TFocusRequest { Always, UnlessGuarded };

class ISessionView {
public:
    virtual ~ISessionView() = default;

    // The message log: whole lines, UTF-8.
    virtual void LineLogged(const std::string& line) = 0;
    // A box with the single button OK (the weak-key warning).
    virtual void ShowWarning(const std::string& text) = 0;
    // The application's error display.
    virtual void ShowError(const std::string& text) = 0;
    // The state the controls follow changed: they follow it, the progress
    // bar goes back to 0 and the cursor to the arrow.
    virtual void StateChanged(const TSessionState& state) = 0;
    // The peer offers a file: the person answers with AnswerOffer, now or
    // later; meanwhile the conversation goes on.
    virtual void OfferArrived(const std::string& question, const std::string& offeredName) = 0;
    // A file moves: 0 to 100, and bytes done of all.
    virtual void TransferProgress(int percent, int64_t done, int64_t total) = 0;
    // A connection, or the attempt to make one, ended.
    virtual void ConnectionEnded(TConnectionEnd) {}
    // All that was sent has left for the system.
    virtual void OutgoingDrained() {}

    // Something happened that deserves the person's attention (the taskbar
    // button flashes when the program is in the background).
    virtual void AttentionWanted() {}
    virtual void FocusWanted(TFocusRequest) {}
    virtual void BusyChanged(bool) {}
    // Outside the control rules: off while an offer of ours waits and while a file is sent.
    virtual void TextEntryEnabled(bool) {}
};
