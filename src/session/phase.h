#pragma once
// The session's lifecycle as one explicit state: the phase says who takes a
// received payload, and the flags the behaviour names (isActive,
// isHandshaking) follow from it, as its table of connection states gives
// them. Every change of phase is a row of kPhaseTransitions.

enum class TPhase {
    Idle,               // no connection, no listener
    GeneratingKey,      // Listen pressed: the key pair is being made
    Listening,          // waiting for a peer
    Connecting,         // Connect pressed: waiting for the connect event
    ServerHandshake,    // a peer was accepted: the key exchange, listening side
    ClientHandshake,    // connected: the key exchange, connecting side
    Conversation,       // the key is agreed: chat lines and files
    ListenerAfterPeer,  // the peer has gone; the listener still listens, shown idle
};

// What moves the phase.
enum class TPhaseEvent {
    ListenPressed,
    KeyDone,                // the key pair is made (or failed); nothing listens yet
    KeyDoneWhileListening,  // ... and the listener of before still listens
    Listened,               // the listener's listen event
    ConnectPressed,
    ConnectFailed,
    Accepted,
    Connected,
    KeyAgreed,
    PeerLeftListener,  // the accepted peer went; the listener stays
    PeerLeftClient,    // the listener we were connected to went
    Disconnected,      // Disconnect, or a protocol error
};

struct TPhaseTransition {
    TPhase from;
    TPhaseEvent event;
    TPhase to;
};

// The lifecycle, row by row.
inline constexpr TPhaseTransition kPhaseTransitions[] = {
    {TPhase::Idle, TPhaseEvent::ListenPressed, TPhase::GeneratingKey},
    {TPhase::Idle, TPhaseEvent::ConnectPressed, TPhase::Connecting},
    {TPhase::Idle, TPhaseEvent::Listened, TPhase::Listening},
    {TPhase::GeneratingKey, TPhaseEvent::KeyDone, TPhase::Idle},
    {TPhase::GeneratingKey, TPhaseEvent::KeyDoneWhileListening, TPhase::ListenerAfterPeer},
    {TPhase::Listening, TPhaseEvent::Accepted, TPhase::ServerHandshake},
    {TPhase::Listening, TPhaseEvent::Disconnected, TPhase::Idle},
    {TPhase::Connecting, TPhaseEvent::Connected, TPhase::ClientHandshake},
    {TPhase::Connecting, TPhaseEvent::ConnectFailed, TPhase::Idle},
    {TPhase::Connecting, TPhaseEvent::Disconnected, TPhase::Idle},
    {TPhase::ServerHandshake, TPhaseEvent::KeyAgreed, TPhase::Conversation},
    {TPhase::ServerHandshake, TPhaseEvent::PeerLeftListener, TPhase::ListenerAfterPeer},
    {TPhase::ServerHandshake, TPhaseEvent::Disconnected, TPhase::Idle},
    {TPhase::ClientHandshake, TPhaseEvent::KeyAgreed, TPhase::Conversation},
    {TPhase::ClientHandshake, TPhaseEvent::PeerLeftClient, TPhase::Idle},
    {TPhase::ClientHandshake, TPhaseEvent::Disconnected, TPhase::Idle},
    {TPhase::Conversation, TPhaseEvent::PeerLeftListener, TPhase::ListenerAfterPeer},
    {TPhase::Conversation, TPhaseEvent::PeerLeftClient, TPhase::Idle},
    {TPhase::Conversation, TPhaseEvent::Disconnected, TPhase::Idle},
    {TPhase::ListenerAfterPeer, TPhaseEvent::Accepted, TPhase::ServerHandshake},
    {TPhase::ListenerAfterPeer, TPhaseEvent::ListenPressed, TPhase::GeneratingKey},
    {TPhase::ListenerAfterPeer, TPhaseEvent::ConnectPressed, TPhase::Connecting},
    {TPhase::ListenerAfterPeer, TPhaseEvent::Listened, TPhase::Listening},
    {TPhase::ListenerAfterPeer, TPhaseEvent::Disconnected, TPhase::Idle},
};

// The phase after the event; the phase itself when no row applies.
constexpr TPhase Transition(TPhase phase, TPhaseEvent event) {
    for (const TPhaseTransition& row : kPhaseTransitions)
        if (row.from == phase && row.event == event) return row.to;
    return phase;
}

// Listening or connected, as the controls see it.
constexpr bool IsActive(TPhase phase) {
    return phase == TPhase::Listening || phase == TPhase::ServerHandshake || phase == TPhase::ClientHandshake ||
           phase == TPhase::Conversation;
}

constexpr bool IsHandshaking(TPhase phase) {
    return phase == TPhase::ServerHandshake || phase == TPhase::ClientHandshake;
}
