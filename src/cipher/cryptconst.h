#pragma once
// Texts that our exceptions carry. They reach the session log as they are, so
// they must stay byte for byte what peers and users already know.

namespace cryptconst {

inline constexpr char SInvalidKeySize[] = "Invalid key size";
inline constexpr char SHashDigestAllocation[] = "Unable to allocate sufficient memory for hash digest";
inline constexpr char SCipherNotInitialized[] = "Cipher not initialized";
inline constexpr char SHashNotInitialized[] = "Hash not initialized";

}  // namespace cryptconst
