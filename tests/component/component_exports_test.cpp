// Each component library through its two exports, as an application uses
// it: symbols, activation, class names, interfaces and unloading.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "component/loaded_component.h"

namespace quarrow_test {
namespace {

class ComponentExports : public ::testing::TestWithParam<Deliverable> {
protected:
    void SetUp() override { ASSERT_TRUE(lib.loaded()) << lib.error(); }

    const Deliverable& d = GetParam();
    LoadedComponent lib{d.path};
};

// The names of the defined dynamic symbols of a shared library, from nm.
std::set<std::string> exportedSymbols(const std::string& path) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    if (!pipe) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    return names;
}

TEST_P(ComponentExports, ExportsExactlyTheTwoEntryPoints) {
    EXPECT_EQ(exportedSymbols(d.path), (std::set<std::string>{"DllCanUnloadNow", "DllGetActivationFactory"}));
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", as IDL writes an identifier.
std::string guidText(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

TEST_P(ComponentExports, MetadataDescribesTheInterfaceTheLibraryAnswers) {
    const std::string ns(d.readerClass.begin(), d.readerClass.begin() + d.readerClass.find(u'.'));
    std::ifstream in(std::string(QUARROW_IDL_DIR) + "/" + ns + ".idl");
    ASSERT_TRUE(in) << ns << ".idl";
    const std::string idl((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(idl.find("namespace " + ns + "\n"), std::string::npos);
    EXPECT_NE(idl.find("[uuid(" + guidText(d.readerIid) + ")]"), std::string::npos) << guidText(d.readerIid);
}

TEST_P(ComponentExports, FactoryAnswersItsClassNameAndBaseTrust) {
    RefPtr<IActivationFactory> factory;
    ASSERT_EQ(lib.getActivationFactory(d.readerClass, factory.put()), S_OK);
    ASSERT_TRUE(factory);

    HSTRING name = nullptr;
    ASSERT_EQ(factory->GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(takeString(name), d.factoryClass);
    TrustLevel trust = TrustLevel::FullTrust;
    ASSERT_EQ(factory->GetTrustLevel(&trust), S_OK);
    EXPECT_EQ(trust, TrustLevel::BaseTrust);
    IidCount count = 0;
    Guid* iids = nullptr;
    ASSERT_EQ(factory->GetIids(&count, &iids), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(iids[0] == IID_IActivationFactory);
    CoTaskMemFree(iids);
    EXPECT_EQ(factory->GetRuntimeClassName(nullptr), E_POINTER);
    EXPECT_EQ(factory->GetTrustLevel(nullptr), E_POINTER);
}

TEST_P(ComponentExports, UnknownClassNamesGiveNoFactory) {
    const std::u16string others[] = {
        u"",
        u"AztecReader",
        u"QuarrowWindows10.aztecreader",
        d.readerClass + u"X",
        d.readerClass.substr(0, d.readerClass.size() - 1),
        d.factoryClass,
        // The explicit length counts: a trailing U+0000 is part of the name.
        d.readerClass + std::u16string(1, u'\0'),
    };
    for (const std::u16string& name : others) {
        IActivationFactory* factory = reinterpret_cast<IActivationFactory*>(this);  // must be overwritten
        EXPECT_EQ(lib.getActivationFactory(name, &factory), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(factory, nullptr);
    }
    // The other deliverables' readers are not served here.
    for (const Deliverable* other : {&windows10(), &windows81(), &wp81()}) {
        if (other->readerClass == d.readerClass) continue;
        RefPtr<IActivationFactory> factory;
        EXPECT_EQ(lib.getActivationFactory(other->readerClass, factory.put()), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_FALSE(factory);
    }
    EXPECT_EQ(lib.getActivationFactory(d.readerClass, nullptr), E_POINTER);
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

TEST_P(ComponentExports, ActivatedReaderAnswersItsClassNameAndInterfaces) {
    RefPtr<IActivationFactory> factory;
    ASSERT_EQ(lib.getActivationFactory(d.readerClass, factory.put()), S_OK);
    RefPtr<IInspectable> instance;
    ASSERT_EQ(factory->ActivateInstance(instance.put()), S_OK);
    ASSERT_TRUE(instance);
    EXPECT_EQ(factory->ActivateInstance(nullptr), E_POINTER);

    HSTRING name = nullptr;
    ASSERT_EQ(instance->GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(takeString(name), d.readerClass);
    TrustLevel trust = TrustLevel::FullTrust;
    ASSERT_EQ(instance->GetTrustLevel(&trust), S_OK);
    EXPECT_EQ(trust, TrustLevel::BaseTrust);

    RefPtr<IAztecReader> reader;
    ASSERT_EQ(instance->QueryInterface(d.readerIid, reinterpret_cast<void**>(reader.put())), S_OK);
    EXPECT_NE(reader.get(), nullptr);
    IidCount count = 0;
    Guid* iids = nullptr;
    ASSERT_EQ(instance->GetIids(&count, &iids), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(iids[0] == d.readerIid);
    CoTaskMemFree(iids);
    for (const Guid& iid : {IID_IUnknown, IID_IInspectable, IID_IAgileObject, IID_IWeakReferenceSource}) {
        RefPtr<IUnknown> other;
        EXPECT_EQ(instance->QueryInterface(iid, reinterpret_cast<void**>(other.put())), S_OK);
        EXPECT_TRUE(other);
    }
    // Another namespace's reader interface, or the factory's, is not offered.
    for (const Guid& iid : {IID_IActivationFactory, IID_IAztecReader_QuarrowWindows10,
                            IID_IAztecReader_QuarrowWindows81, IID_IAztecReader_QuarrowWP81}) {
        if (iid == d.readerIid) continue;
        void* other = this;
        EXPECT_EQ(instance->QueryInterface(iid, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(instance->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_P(ComponentExports, ReferenceCountsFollowAddRefAndRelease) {
    RefPtr<IActivationFactory> factory;
    ASSERT_EQ(lib.getActivationFactory(d.readerClass, factory.put()), S_OK);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    RefPtr<IUnknown> viaQuery;
    ASSERT_EQ(factory->QueryInterface(IID_IActivationFactory, reinterpret_cast<void**>(viaQuery.put())), S_OK);
    EXPECT_EQ(factory->AddRef(), 3u);
    EXPECT_EQ(factory->Release(), 2u);
}

TEST_P(ComponentExports, CanUnloadOnlyWhenEveryObjectIsReleased) {
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
    RefPtr<IActivationFactory> factory;
    ASSERT_EQ(lib.getActivationFactory(d.readerClass, factory.put()), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);

    RefPtr<IInspectable> first, second;
    ASSERT_EQ(factory->ActivateInstance(first.put()), S_OK);
    ASSERT_EQ(factory->ActivateInstance(second.put()), S_OK);
    EXPECT_NE(first.get(), second.get());
    factory.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);  // two readers left

    RefPtr<IAztecReader> reader;
    ASSERT_EQ(first->QueryInterface(d.readerIid, reinterpret_cast<void**>(reader.put())), S_OK);
    RefPtr<IWeakReferenceSource> source;
    ASSERT_EQ(second->QueryInterface(IID_IWeakReferenceSource, reinterpret_cast<void**>(source.put())), S_OK);
    RefPtr<IWeakReference> weak;
    ASSERT_EQ(source->GetWeakReference(weak.put()), S_OK);
    source.reset();
    first.reset();
    second.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);  // the reader still holds one
    reader.reset();
    // A weak reference outlives its reader and keeps the library's code.
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    RefPtr<IInspectable> resolved;
    EXPECT_EQ(weak->Resolve(d.readerIid, resolved.put()), S_OK);
    EXPECT_FALSE(resolved);
    weak.reset();
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Deliverables, ComponentExports, ::testing::Values(windows10(), windows81(), wp81()),
                         [](const ::testing::TestParamInfo<Deliverable>& info) { return info.param.label; });

}  // namespace
}  // namespace quarrow_test
