#pragma once
// A text that holds a secret (a session key, say): every copy of it is
// wiped when it goes or is overwritten, so a capture in a lambda or a copy
// for a worker leaves nothing behind in freed memory.

#include <string>
#include <utility>

#include "secure/securewipe.h"

class TSecretText {
public:
    TSecretText() = default;
    explicit TSecretText(std::string text) : text_(std::move(text)) {}
    TSecretText(const TSecretText& other) : text_(other.text_) {}
    TSecretText(TSecretText&& other) noexcept : text_(std::move(other.text_)) { SecureWipe(other.text_); }
    TSecretText& operator=(const TSecretText& other) {
        if (this != &other) Assign(other.text_);
        return *this;
    }
    TSecretText& operator=(TSecretText&& other) noexcept {
        if (this != &other) {
            SecureWipe(text_);
            text_.swap(other.text_);
            SecureWipe(other.text_);
        }
        return *this;
    }
    ~TSecretText() { SecureWipe(text_); }

    // Copies text into the storage this one already has when it fits.
    void Assign(const std::string& text) {
        SecureWipe(text_);
        text_.assign(text);
    }
    void Wipe() noexcept { SecureWipe(text_); }
    const std::string& str() const { return text_; }
    bool empty() const { return text_.empty(); }

private:
    std::string text_;
};
