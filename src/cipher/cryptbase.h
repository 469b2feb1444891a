#pragma once
// The framework every hash and cipher plugs into: base classes, exceptions,
// key setup from a passphrase, and the text-level encryption the chat uses.
//
// Class-level queries (Id, Algorithm, HashSize, MaxKeySize, BlockSize,
// SelfCheck) are static members of each concrete class; every object reports
// its class descriptor through ClassType(), which is what the property
// getters read. The descriptors, the ownership every object takes part in
// and the chaining modes other than 8-bit CFB live in cipher/kept/: the
// library keeps them, the program does not call them.

#include "cipher/kept/classdescriptors.h"
#include "cipher/kept/component.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class EHash : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ECipher : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EBlockCipher : public ECipher {
public:
    using ECipher::ECipher;
};

// destination[i] ^= source[i] for i in 0..count-1.
void XorInto(void* destination, const void* source, uint32_t count);

class THash : public TComponent {
public:
    THash() = default;
    // A descendant that holds state wipes it in its own destructor: the base
    // one can no longer reach the descendant's Wipe.
    ~THash() override = default;

    static int32_t Id() { return -1; }
    static std::string Algorithm() { return {}; }
    static int32_t HashSize() { return -1; }
    static bool SelfCheck() { return false; }

    virtual const THashClass& ClassType() const { return HashClassOf<THash>(); }

    // Published properties: read the class-level value; the setters accept a
    // value and drop it.
    int32_t GetId() const { return ClassType().Id(); }
    std::string GetAlgorithm() const { return ClassType().Algorithm(); }
    int32_t GetHashSize() const { return ClassType().HashSize(); }
    void SetId(int32_t) {}
    void SetAlgorithm(const std::string&) {}
    void SetHashSize(int32_t) {}

    bool IsReady() const noexcept { return Ready; }

    virtual void Initialize() {}
    // Writes HashSize/8 bytes of digest, then wipes.
    virtual void Finish(void* /*digest*/) {}
    virtual void Wipe() {}
    virtual void AddBytes(const void* /*buffer*/, uint32_t /*size*/) {}

    // The bytes of text as stored; an empty text still calls AddBytes once.
    void AddText(const std::string& text);

protected:
    bool Ready = false;
};

class TCipher : public TComponent {
public:
    // Starts wiped. Each descendant with state of its own puts itself into
    // its wiped state in its constructor and wipes in its destructor.
    TCipher() = default;
    ~TCipher() override = default;

    static int32_t Id() { return -1; }
    static std::string Algorithm() { return {}; }
    static int32_t MaxKeySize() { return -1; }
    static bool SelfCheck() { return false; }

    virtual const TCipherClass& ClassType() const { return CipherClassOf<TCipher>(); }

    int32_t GetId() const { return ClassType().Id(); }
    std::string GetAlgorithm() const { return ClassType().Algorithm(); }
    int32_t GetMaxKeySize() const { return ClassType().MaxKeySize(); }
    void SetId(int32_t) {}
    void SetAlgorithm(const std::string&) {}
    void SetMaxKeySize(int32_t) {}

    bool IsReady() const noexcept { return Ready; }

    // Wipes a keyed object first; refuses a length that is 0, not a multiple
    // of 4 or above MaxKeySize with "Invalid key size", leaving it not Ready.
    virtual void SetKey(const void* key, uint32_t sizeInBits, const void* initVector);
    virtual void Wipe() { Ready = false; }
    virtual void Restart() {}
    virtual void EncryptBytes(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void DecryptBytes(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    // Encrypts from the current chaining state and returns Base64 text.
    virtual std::string EncryptText(const std::string& text);
    // Decodes Base64 text and decrypts it from the current chaining state.
    virtual std::string DecryptText(const std::string& text);

    // Keys the cipher with the digest of passphrase under the given hash class.
    // Every failure inside surfaces as "Unable to allocate sufficient memory
    // for hash digest" and leaves the cipher not Ready.
    void SetKeyFromText(const std::string& passphrase, const THashClass& hashClass);

protected:
    bool Ready = false;
};

enum TCiphermode : uint8_t { cmCBC = 0, cmCFB8bit = 1, cmCFBblock = 2, cmOFB = 3, cmCTR = 4 };

class TBlockCipher : public TCipher {
public:
    TBlockCipher() = default;

    static int32_t BlockSize() { return -1; }

    const TCipherClass& ClassType() const override { return CipherClassOf<TBlockCipher>(); }
    int32_t GetBlockSize() const { return ClassType().BlockSize(); }
    void SetBlockSize(int32_t) {}

    // Read and written directly; a value outside the five modes makes
    // EncryptBytes and DecryptBytes do nothing. The byte operations and every
    // mode but 8-bit CFB are kept, not used by the program.
    TCiphermode CipherMode = cmCBC;

    void EncryptBytes(const void* input, void* output, uint32_t size) override;
    void DecryptBytes(const void* input, void* output, uint32_t size) override;
    // Always 8-bit CFB, whatever CipherMode holds.
    std::string EncryptText(const std::string& text) override;
    std::string DecryptText(const std::string& text) override;

    virtual void PrepareKey(const void* /*key*/, uint32_t /*sizeInBits*/) {}
    virtual void LoadIV(const void* /*block*/) {}
    virtual void GetChainValue(void* /*block*/) {}
    virtual void EncryptBlock(const void* /*input*/, void* /*output*/) {}
    virtual void DecryptBlock(const void* /*input*/, void* /*output*/) {}
    virtual void CbcEncrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void CbcDecrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void Cfb8Encrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void Cfb8Decrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void CfbBlockEncrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void CfbBlockDecrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void OfbEncrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void OfbDecrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void CtrEncrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
    virtual void CtrDecrypt(const void* /*input*/, void* /*output*/, uint32_t /*size*/) {}
};
