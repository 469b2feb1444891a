#pragma once
// Starting documents and programs the way a desktop does, with the reasons
// for a failure told as the launcher's small result numbers.

#include <string>

// Why a start failed, or that it did not.
enum class TLaunchOutcome { Started, FileNotFound, PathNotFound, AccessDenied, NoAssociation, OtherFailure };

// Started: 42 (any number above 32 means success)
// FileNotFound: 2    the folder is there, the file is not
// PathNotFound: 3    a folder on the way is missing or is no folder
// AccessDenied: 5    the file or a folder on the way may not be read
// NoAssociation: 31  no opener (xdg-open, gio) to hand a document to
// OtherFailure: 0    anything else, such as a program the system cannot run
int LaunchResultNumber(TLaunchOutcome outcome);

// The outcome for the errno of a failed look at path.
TLaunchOutcome OutcomeOfLookupError(int error, const std::string& path);

// An executable file is started detached; any other file is handed to the
// desktop's opener. A bare name without a slash is looked for in the working
// folder, then among the programs on PATH. The path ends at a NUL byte.
int LaunchDocument(const std::string& path);

// Opens a file or an address with the desktop's default application, through
// xdg-open or else gio, detached. NoAssociation when neither is on PATH.
TLaunchOutcome OpenWithDefaultApplication(const std::string& target);

// The address in the default browser: through Qt in a window program, else
// through the opener.
void OpenInBrowser(const std::string& address);

// The first executable file of that name in a folder of PATH; empty if none.
std::string FindProgramOnPath(const std::string& name);
