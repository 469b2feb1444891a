#pragma once
// Names of received files: what a peer offers, made a name that is safe to
// create in a folder, and the numbered forms of a name that is taken.

#include <cstddef>
#include <string>

// The longest name most file systems take.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// The offered name without any folder (a peer may not choose where a file
// lands), with every control character, line separator and bidirectional
// control replaced by "_" (a name may not fake lines or turn around its
// extension); one of only dots and blanks becomes "unnamed"; one longer than
// kMaxFileNameBytes is cut to fit, keeping a short extension.
std::string SafeFileName(const std::string& offeredName);

// "report (2).pdf": the number goes before the extension, the part after the
// last dot, when that dot is not the first character (".profile (2)"). The
// stem gives way so the name still fits kMaxFileNameBytes.
std::string NumberedFileName(const std::string& name, int number);

// name + suffix ("report.pdf.part"), the name cut so the whole still fits
// kMaxFileNameBytes.
std::string NameWithSuffix(const std::string& name, const std::string& suffix);
