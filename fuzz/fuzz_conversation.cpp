// Long scripts of hostile and careless peers against a listening session:
// the fuzzer's bytes choose each step (connect, key exchanges right and
// botched, floods of offers, answers, chunks, end messages and chat lines,
// peers leaving and coming while a question is open, the person's answers,
// disconnects, the event loop's turns). After every step: no handler ran
// inside another, the held bytes stayed bounded, no connection heard
// another's conversation.
//
// Input: one byte per choice; past the end the script stops.

#include "fuzzsupport.h"
#include "hostilescript.h"

namespace {

constexpr int kMaxSteps = 400;

class TFuzzChoices final : public IScriptChoices {
public:
    explicit TFuzzChoices(TFuzzBytes& bytes) : bytes_(bytes) {}
    uint32_t Below(uint32_t bound) override {
        const uint32_t value = bound > 256 ? bytes_.Word() : bytes_.Byte();
        return value % bound;
    }
    bool Exhausted() const override { return bytes_.Empty(); }

private:
    TFuzzBytes& bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    TFuzzBytes bytes(data, size);
    TFuzzChoices choices(bytes);
    THostileScript script([](const std::string& what) {
        std::fprintf(stderr, "property violated: %s\n", what.c_str());
        std::abort();
    });
    script.Play(choices, kMaxSteps);
    return 0;
}
