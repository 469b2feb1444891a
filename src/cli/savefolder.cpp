#include "cli/savefolder.h"

TSaveTarget SaveTargetIn(const std::string& folder, const std::string& name, bool overwrite) {
    return {folder + "/" + name, overwrite ? TSaveMode::ReplaceWhenWhole : TSaveMode::NewName};
}
