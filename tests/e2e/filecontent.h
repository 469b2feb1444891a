#pragma once
// Files to send and how to tell what arrived: random bytes, sizes, digests,
// and who still holds a file open.

#include <QString>

#include <cstdint>
#include <string>

// SIZE bytes of a seeded pseudo-random stream: no pattern a checksum could miss.
void WriteRandomFile(const QString& path, int64_t size, uint64_t seed);
// -1 when there is no such file.
int64_t FileSize(const QString& path);
// SHA-256 as lowercase hexadecimal, read a piece at a time; empty when unreadable.
std::string FileSha256(const QString& path);
// Whether the process has a descriptor on the file, as /proc/PID/fd tells.
bool ProcessHasFileOpen(int64_t processId, const QString& path);
