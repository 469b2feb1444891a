#include "session/controlrules.h"

TControlStates FixControlsRules(const TSessionFlags& flags) {
    TControlStates states;
    states.connectionSetupEnabled = !flags.isActive;
    states.disconnectEnabled = flags.isActive;
    states.sendingEnabled = flags.isActive && !flags.isHandshaking && !flags.isTransferring;
    states.loggingButtonsVisible = flags.debugMode;
    states.startLoggingEnabled = !flags.isLogging;
    states.stopLoggingEnabled = flags.isLogging;
    return states;
}
