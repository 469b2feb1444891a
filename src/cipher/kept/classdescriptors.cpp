#include "cipher/kept/classdescriptors.h"

#include "cipher/cryptbase.h"

THash& THashClass::Create(TComponent& owner) const { return static_cast<THash&>(owner.InsertComponent(Make())); }

TCipher& TCipherClass::Create(TComponent& owner) const { return static_cast<TCipher&>(owner.InsertComponent(Make())); }
