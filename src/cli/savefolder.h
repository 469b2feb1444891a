#pragma once
// Where accepted files land: the folder given with --accept-files, under the
// name the peer offered. A file already there stays: the new one takes the
// first free numbered name, unless replacing was asked for.

#include <string>

#include "session/environment.h"

// "report (2).pdf": the number goes before the extension, the part after the
// last dot, when that dot is not the first character (".profile (2)").
std::string NumberedFileName(const std::string& name, int number);

class TSaveFolder {
public:
    TSaveFolder(std::string folder, bool overwrite, IFileSystem& files)
        : folder_(std::move(folder)), overwrite_(overwrite), files_(files) {}

    // The path for a file offered as name (already without any folder).
    std::string PathFor(const std::string& name);

private:
    std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }

    std::string folder_;
    bool overwrite_;
    IFileSystem& files_;
};
