// Which of the window's controls each state of the session enables.

#include <gtest/gtest.h>

#include "ui/controlrules.h"

TEST(ControlRules, EachStateOfTheWindow) {
    struct Row {
        bool active, handshaking, transferring;
        bool setup, disconnect, sending;
    };
    const Row rows[] = {
        {false, false, false, true, false, false},  // idle
        {true, false, false, false, true, true},    // listening, or connected
        {true, true, false, false, true, false},    // handshaking
        {true, false, true, false, true, false},    // sending or receiving a file
        {false, true, false, true, false, false},   // listening after the peer left
    };
    for (const Row& row : rows) {
        TSessionState state;
        state.isActive = row.active;
        state.isHandshaking = row.handshaking;
        state.isTransferring = row.transferring;
        const TControlStates states = FixControlsRules(state);
        EXPECT_EQ(states.connectionSetupEnabled, row.setup);
        EXPECT_EQ(states.disconnectEnabled, row.disconnect);
        EXPECT_EQ(states.sendingEnabled, row.sending);
        EXPECT_FALSE(states.loggingButtonsVisible);
    }
}

TEST(ControlRules, LogButtonsShowInDebugModeWithExactlyOneEnabled) {
    TSessionState state;
    state.debugMode = true;
    TControlStates states = FixControlsRules(state);
    EXPECT_TRUE(states.loggingButtonsVisible);
    EXPECT_TRUE(states.startLoggingEnabled);
    EXPECT_FALSE(states.stopLoggingEnabled);
    state.isLogging = true;
    states = FixControlsRules(state);
    EXPECT_FALSE(states.startLoggingEnabled);
    EXPECT_TRUE(states.stopLoggingEnabled);
}
