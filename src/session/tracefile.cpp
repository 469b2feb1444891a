#include "session/tracefile.h"

void TTraceFile::Start() {
    // Starting again empties the previous trace.
    file_.reset();
    file_ = files_.CreateTextFile(kTraceFileName);
}

void TTraceFile::Stop() { file_.reset(); }

void TTraceFile::WriteLine(const std::string& line) {
    if (file_) file_->WriteLine(line);
}

bool TTraceFile::LeftOnDisk() { return files_.FileExists(kTraceFileName); }
