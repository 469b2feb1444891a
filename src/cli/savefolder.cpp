#include "cli/savefolder.h"

std::string NumberedFileName(const std::string& name, int number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string TSaveFolder::PathFor(const std::string& name) {
    std::string path = PathOf(name);
    if (overwrite_) return path;
    // The folder holds finitely many files, so a free number comes.
    for (int number = 1; files_.FileExists(path); ++number) path = PathOf(NumberedFileName(name, number));
    return path;
}
