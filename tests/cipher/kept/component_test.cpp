#include "cipher/kept/component.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records its destruction so tests can see who destroyed what, and when.
class Probe : public TComponent {
public:
    Probe(std::vector<std::string>& log, std::string name) : Log(log), Name(std::move(name)) {}
    ~Probe() override { Log.push_back(Name); }

private:
    std::vector<std::string>& Log;
    std::string Name;
};

}  // namespace

TEST(Component, OwnerDestroysOwnedComponentsNewestFirst) {
    std::vector<std::string> log;
    {
        auto owner = std::make_unique<Probe>(log, "owner");
        Probe& a = owner->CreateComponent<Probe>(log, "a");
        owner->CreateComponent<Probe>(log, "b");
        EXPECT_EQ(owner->ComponentCount(), 2);
        EXPECT_EQ(a.Owner(), owner.get());
        EXPECT_EQ(&owner->Components(0), &a);
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (std::vector<std::string>{"owner", "b", "a"}));
}

TEST(Component, ComponentFreedEarlyLeavesTheOwnersList) {
    std::vector<std::string> log;
    Probe owner(log, "owner");
    Probe& a = owner.CreateComponent<Probe>(log, "a");
    Probe& b = owner.CreateComponent<Probe>(log, "b");
    owner.FreeComponent(a);
    EXPECT_EQ(log, (std::vector<std::string>{"a"}));
    ASSERT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(&owner.Components(0), &b);
    EXPECT_THROW(owner.Components(1), std::out_of_range);
}

TEST(Component, RemovedComponentBelongsToTheCallerAndForeignOnesAreRefused) {
    std::vector<std::string> log;
    Probe owner(log, "owner");
    Probe other(log, "other");
    Probe& a = owner.CreateComponent<Probe>(log, "a");
    EXPECT_THROW(other.FreeComponent(a), std::invalid_argument);
    std::unique_ptr<TComponent> taken = owner.RemoveComponent(a);
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_EQ(taken->Owner(), nullptr);
    EXPECT_TRUE(log.empty());
    taken.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"a"}));
    EXPECT_THROW(owner.InsertComponent(nullptr), std::invalid_argument);
}

TEST(Component, ClassReferencesCreateOwnedInstancesOfTheirClass) {
    TRijndael cipher;
    THash& hash = TSha256::Class().Create(cipher);
    EXPECT_EQ(cipher.ComponentCount(), 1);
    EXPECT_EQ(hash.GetAlgorithm(), "SHA256");
    EXPECT_EQ(hash.Owner(), &cipher);
    TCipher& owned = CipherClassOf<TRijndael>().Create(cipher);
    EXPECT_EQ(owned.GetId(), 9);
    EXPECT_EQ(cipher.ComponentCount(), 2);
    cipher.FreeComponent(hash);
    EXPECT_EQ(cipher.ComponentCount(), 1);
}
