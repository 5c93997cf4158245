#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/activation_factory.h"
#include "platform/runtime_object.h"
#include "platform/module.h"

namespace {

using namespace quarrow::platform;

constexpr Guid kTestIid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ITestThing : IInspectable {
    virtual int answer() = 0;

protected:
    ~ITestThing() = default;
};

class TestThing final : public InspectableObject<ITestThing> {
public:
    TestThing() : InspectableObject(kTestIid, u"Test.Thing") { ++alive; }
    int answer() override { return 42; }
    static inline int alive = 0;

private:
    ~TestThing() override { --alive; }
};

// Its constructor fails after the base has counted it.
class FailingThing final : public InspectableObject<ITestThing> {
public:
    FailingThing() : InspectableObject(kTestIid, u"Test.Failing") { throw std::invalid_argument("no"); }
    int answer() override { return 0; }

private:
    ~FailingThing() override = default;
};

std::u16string className(IInspectable* object) {
    HSTRING name = nullptr;
    EXPECT_EQ(object->GetRuntimeClassName(&name), S_OK);
    UniqueHString owned(name);
    return std::u16string(owned.view());
}

TEST(InspectableObject, LastReleaseFreesTheObjectAndUpdatesTheModule) {
    const std::int64_t before = Module::instance().liveObjects();
    TestThing* thing = createObject<TestThing>();
    EXPECT_EQ(TestThing::alive, 1);
    EXPECT_EQ(Module::instance().liveObjects(), before + 1);
    EXPECT_FALSE(Module::instance().canUnload());
    EXPECT_EQ(thing->AddRef(), 2u);
    EXPECT_EQ(thing->Release(), 1u);
    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_EQ(TestThing::alive, 0);
    EXPECT_EQ(Module::instance().liveObjects(), before);
    EXPECT_TRUE(Module::instance().canUnload());
}

TEST(InspectableObject, AnswersItsInterfacesOnly) {
    TestThing* thing = createObject<TestThing>();
    for (const Guid& iid : {IID_IUnknown, IID_IInspectable, IID_IAgileObject, IID_IWeakReferenceSource, kTestIid}) {
        void* p = nullptr;
        ASSERT_EQ(thing->QueryInterface(iid, &p), S_OK);
        ASSERT_NE(p, nullptr);
        static_cast<IUnknown*>(p)->Release();
    }
    void* p = nullptr;
    ASSERT_EQ(thing->QueryInterface(kTestIid, &p), S_OK);
    EXPECT_EQ(static_cast<ITestThing*>(p)->answer(), 42);
    EXPECT_EQ(thing->Release(), 1u);  // the query's reference
    p = thing;
    EXPECT_EQ(thing->QueryInterface(IID_IActivationFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(thing->QueryInterface(kTestIid, nullptr), E_POINTER);
    EXPECT_EQ(className(thing), u"Test.Thing");
    TrustLevel level = TrustLevel::PartialTrust;
    EXPECT_EQ(thing->GetTrustLevel(&level), S_OK);
    EXPECT_EQ(level, TrustLevel::BaseTrust);
    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_EQ(TestThing::alive, 0);
}

TEST(InspectableObject, ConcurrentAddRefAndReleaseKeepTheCount) {
    TestThing* thing = createObject<TestThing>();
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([thing] {
                for (int i = 0; i < 10000; ++i) {
                    thing->AddRef();
                    thing->Release();
                }
            });
        }
    }
    EXPECT_EQ(TestThing::alive, 1);
    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_EQ(TestThing::alive, 0);
}

TEST(InspectableObject, GetIidsListsItsOwnInterfaceOnly) {
    TestThing* thing = createObject<TestThing>();
    IidCount count = 7;
    Guid* iids = nullptr;
    ASSERT_EQ(thing->GetIids(&count, &iids), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(iids[0] == kTestIid);
    CoTaskMemFree(iids);
    EXPECT_EQ(thing->GetIids(nullptr, &iids), E_POINTER);
    EXPECT_EQ(thing->GetIids(&count, nullptr), E_POINTER);
    thing->Release();
}

// The interface as Windows lays it out, slot by slot, called the way a C
// caller does: the object pointer as the first argument.
struct InspectableSlots {
    void* queryInterface;
    void* addRef;
    RefCount (*release)(void*);
    HRESULT (*getIids)(void*, IidCount*, Guid**);
    HRESULT (*getRuntimeClassName)(void*, HSTRING*);
    HRESULT (*getTrustLevel)(void*, TrustLevel*);
};

TEST(InspectableObject, VtableSlotsAreThoseOfWindows) {
    TestThing* thing = createObject<TestThing>();
    IInspectable* object = thing;
    const auto* slots = *reinterpret_cast<const InspectableSlots* const*>(object);
    IidCount count = 0;
    Guid* iids = nullptr;
    ASSERT_EQ(slots->getIids(object, &count, &iids), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(iids[0] == kTestIid);
    CoTaskMemFree(iids);
    HSTRING name = nullptr;
    ASSERT_EQ(slots->getRuntimeClassName(object, &name), S_OK);
    EXPECT_EQ(UniqueHString(name).view(), u"Test.Thing");
    TrustLevel level = TrustLevel::FullTrust;
    ASSERT_EQ(slots->getTrustLevel(object, &level), S_OK);
    EXPECT_EQ(level, TrustLevel::BaseTrust);
    EXPECT_EQ(slots->release(object), 0u);
    EXPECT_EQ(TestThing::alive, 0);
}

IWeakReference* weakReferenceTo(IInspectable* object) {
    IWeakReferenceSource* source = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IWeakReferenceSource, reinterpret_cast<void**>(&source)), S_OK);
    IWeakReference* weak = nullptr;
    if (source != nullptr) {
        EXPECT_EQ(source->GetWeakReference(&weak), S_OK);
        EXPECT_EQ(source->GetWeakReference(nullptr), E_POINTER);
        source->Release();
    }
    return weak;
}

TEST(WeakReference, ResolvesWhileTheObjectLivesAndToNullAfter) {
    const std::int64_t before = Module::instance().liveObjects();
    TestThing* thing = createObject<TestThing>();
    IWeakReference* weak = weakReferenceTo(thing);
    ASSERT_NE(weak, nullptr);
    EXPECT_EQ(TestThing::alive, 1) << "a weak reference keeps nothing alive by itself";

    IInspectable* resolved = nullptr;
    ASSERT_EQ(weak->Resolve(kTestIid, &resolved), S_OK);
    EXPECT_EQ(static_cast<ITestThing*>(resolved)->answer(), 42);
    EXPECT_EQ(static_cast<void*>(resolved), static_cast<void*>(static_cast<ITestThing*>(thing)));
    EXPECT_EQ(thing->Release(), 1u) << "Resolve handed out a strong reference";
    resolved = reinterpret_cast<IInspectable*>(weak);
    EXPECT_EQ(weak->Resolve(IID_IActivationFactory, &resolved), E_NOINTERFACE);
    EXPECT_EQ(resolved, nullptr);
    EXPECT_EQ(weak->Resolve(kTestIid, nullptr), E_POINTER);

    void* p = nullptr;
    EXPECT_EQ(weak->QueryInterface(IID_IWeakReference, &p), S_OK);
    EXPECT_EQ(p, weak);
    weak->Release();
    EXPECT_EQ(weak->QueryInterface(IID_IInspectable, &p), E_NOINTERFACE);

    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_EQ(TestThing::alive, 0);
    resolved = reinterpret_cast<IInspectable*>(weak);
    EXPECT_EQ(weak->Resolve(kTestIid, &resolved), S_OK);
    EXPECT_EQ(resolved, nullptr);
    // The weak reference's code is the library's: it still counts.
    EXPECT_EQ(Module::instance().liveObjects(), before + 1);
    weak->Release();
    EXPECT_EQ(Module::instance().liveObjects(), before);
}

TEST(WeakReference, ResolvingRacesTheLastReleaseSafely) {
    // Resolve either gets a live object or null, never one being destroyed
    // (the sanitizer builds would see a use after free).
    for (int round = 0; round < 200; ++round) {
        TestThing* thing = createObject<TestThing>();
        IWeakReference* weak = weakReferenceTo(thing);
        {
            std::vector<std::jthread> threads;
            for (int t = 0; t < 3; ++t) {
                threads.emplace_back([weak] {
                    for (int i = 0; i < 50; ++i) {
                        IInspectable* resolved = nullptr;
                        if (weak->Resolve(kTestIid, &resolved) != S_OK || resolved == nullptr) continue;
                        EXPECT_EQ(static_cast<ITestThing*>(resolved)->answer(), 42);
                        resolved->Release();
                    }
                });
            }
            thing->Release();
        }
        EXPECT_EQ(TestThing::alive, 0);
        IInspectable* resolved = nullptr;
        EXPECT_EQ(weak->Resolve(kTestIid, &resolved), S_OK);
        EXPECT_EQ(resolved, nullptr);
        weak->Release();
    }
}

TEST(ActivationFactory, MakesNewObjectsAndNamesItself) {
    const std::int64_t before = Module::instance().liveObjects();
    auto* factory = createObject<ActivationFactory<TestThing>>(u"Test.ThingFactory");
    EXPECT_EQ(className(factory), u"Test.ThingFactory");
    IInspectable* a = nullptr;
    IInspectable* b = nullptr;
    ASSERT_EQ(factory->ActivateInstance(&a), S_OK);
    ASSERT_EQ(factory->ActivateInstance(&b), S_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(TestThing::alive, 2);
    EXPECT_EQ(className(a), u"Test.Thing");
    EXPECT_EQ(Module::instance().liveObjects(), before + 3);
    EXPECT_EQ(factory->Release(), 0u);
    a->Release();
    b->Release();
    EXPECT_EQ(TestThing::alive, 0);
    EXPECT_EQ(Module::instance().liveObjects(), before);
}

TEST(ActivationFactory, FailingConstructionIsTranslatedAndLeavesNothingAlive) {
    const std::int64_t before = Module::instance().liveObjects();
    auto* factory = createObject<ActivationFactory<FailingThing>>(u"Test.FailingFactory");
    IInspectable* instance = reinterpret_cast<IInspectable*>(factory);
    EXPECT_EQ(factory->ActivateInstance(&instance), E_INVALIDARG);
    EXPECT_EQ(instance, nullptr);
    EXPECT_EQ(factory->ActivateInstance(nullptr), E_POINTER);
    EXPECT_EQ(Module::instance().liveObjects(), before + 1);
    factory->Release();
    EXPECT_EQ(Module::instance().liveObjects(), before);
}

}  // namespace
