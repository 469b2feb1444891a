#pragma once
// Class descriptors: one value per concrete hash or cipher class that
// answers its class-level queries and makes instances of it, owned or not.
// The program names a hash class this way (SetKeyFromText takes one) and
// never makes instances through it; the rest is kept for the library's
// completeness.

#include <cstdint>
#include <memory>
#include <string>

class TComponent;
class THash;
class TCipher;

// Designates one concrete THash descendant.
class THashClass {
public:
    using IntQuery = int32_t (*)();
    using TextQuery = std::string (*)();
    using CheckQuery = bool (*)();
    using Factory = std::unique_ptr<THash> (*)();

    constexpr THashClass(IntQuery id, TextQuery algorithm, IntQuery hashSize, CheckQuery selfCheck, Factory factory)
        : IdQuery(id), AlgorithmQuery(algorithm), HashSizeQuery(hashSize), SelfCheckQuery(selfCheck), Make(factory) {}

    int32_t Id() const { return IdQuery(); }
    std::string Algorithm() const { return AlgorithmQuery(); }
    int32_t HashSize() const { return HashSizeQuery(); }
    bool SelfCheck() const { return SelfCheckQuery(); }
    // A new instance with no owner.
    std::unique_ptr<THash> Create() const { return Make(); }
    // A new instance owned by owner.
    THash& Create(TComponent& owner) const;

    // Descriptors are singletons per class, so identity is address identity.
    bool operator==(const THashClass& other) const noexcept { return this == &other; }

private:
    IntQuery IdQuery;
    TextQuery AlgorithmQuery;
    IntQuery HashSizeQuery;
    CheckQuery SelfCheckQuery;
    Factory Make;
};

template <class T>
const THashClass& HashClassOf() {
    static const THashClass descriptor(&T::Id, &T::Algorithm, &T::HashSize, &T::SelfCheck,
                                       []() -> std::unique_ptr<THash> { return std::make_unique<T>(); });
    return descriptor;
}

// Designates one concrete TCipher descendant. BlockSize is -1 for a class
// that is no block cipher.
class TCipherClass {
public:
    using IntQuery = int32_t (*)();
    using TextQuery = std::string (*)();
    using CheckQuery = bool (*)();
    using Factory = std::unique_ptr<TCipher> (*)();

    constexpr TCipherClass(IntQuery id, TextQuery algorithm, IntQuery maxKeySize, IntQuery blockSize,
                           CheckQuery selfCheck, Factory factory)
        : IdQuery(id),
          AlgorithmQuery(algorithm),
          MaxKeySizeQuery(maxKeySize),
          BlockSizeQuery(blockSize),
          SelfCheckQuery(selfCheck),
          Make(factory) {}

    int32_t Id() const { return IdQuery(); }
    std::string Algorithm() const { return AlgorithmQuery(); }
    int32_t MaxKeySize() const { return MaxKeySizeQuery(); }
    int32_t BlockSize() const { return BlockSizeQuery(); }
    bool SelfCheck() const { return SelfCheckQuery(); }
    std::unique_ptr<TCipher> Create() const { return Make(); }
    TCipher& Create(TComponent& owner) const;

    bool operator==(const TCipherClass& other) const noexcept { return this == &other; }

private:
    IntQuery IdQuery;
    TextQuery AlgorithmQuery;
    IntQuery MaxKeySizeQuery;
    IntQuery BlockSizeQuery;
    CheckQuery SelfCheckQuery;
    Factory Make;
};

namespace cryptbase_detail {
inline int32_t NoBlockSize() { return -1; }
}  // namespace cryptbase_detail

template <class T>
const TCipherClass& CipherClassOf() {
    constexpr auto blockSize = [] {
        if constexpr (requires { T::BlockSize(); })
            return &T::BlockSize;
        else
            return &cryptbase_detail::NoBlockSize;
    }();
    static const TCipherClass descriptor(&T::Id, &T::Algorithm, &T::MaxKeySize, blockSize, &T::SelfCheck,
                                         []() -> std::unique_ptr<TCipher> { return std::make_unique<T>(); });
    return descriptor;
}
