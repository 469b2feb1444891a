#pragma once
// A session's real environment: QtNetwork sockets, the trace file in the
// working folder, the system clock, QTimers, a worker thread and real RSA
// key generation; the project's homepage; where the settings file goes.

#include <string>

#include "session/environment.h"

TSessionEnvironment MakeDefaultEnvironment();

// The project's web address; its read-me and download pages hang off it.
std::string ProjectHomepage();

// What decides where the settings file goes when no --config names one.
struct TSettingsPlaces {
    std::string programFolder;
    // quellmere.conf is there already, or the folder lets us write it.
    bool programFolderUsable = false;
    // $XDG_CONFIG_HOME and $HOME, empty when unset.
    std::string configHome;
    std::string home;
};

// Beside the program while that works, so an unpacked copy keeps its settings
// with it; otherwise (a program installed in /usr/bin) the user's own
// configuration folder: $XDG_CONFIG_HOME/quellmere/quellmere.conf, or
// ~/.config/quellmere/quellmere.conf.
std::string ChooseSettingsPath(const TSettingsPlaces& places);

// ChooseSettingsPath for this process, looking at the disk and the environment.
std::string DefaultSettingsPath(const std::string& programFolder);
