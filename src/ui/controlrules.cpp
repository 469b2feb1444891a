#include "ui/controlrules.h"

TControlStates FixControlsRules(const TSessionState& state) {
    TControlStates states;
    states.connectionSetupEnabled = !state.isActive;
    states.disconnectEnabled = state.isActive;
    states.sendingEnabled = state.isActive && !state.isHandshaking && !state.isTransferring;
    states.loggingButtonsVisible = state.debugMode;
    states.startLoggingEnabled = !state.isLogging;
    states.stopLoggingEnabled = state.isLogging;
    return states;
}
