// The built plug-in library as the host sees it: its five exports, the class
// manifest, and one plug-in created through Poco's class loader and driven
// through its whole life.
#include <Poco/ClassLoader.h>
#include <Poco/Exception.h>
#include <Poco/Manifest.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestSupport.h"
#include "core/DapplinePlugin.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Service.h"

namespace {

const char* const LIBRARY = ORVANE_TEST_PLUGIN_DIR "/libdapplinepro.so";
const char* const CLASS_NAME = "Orvane::Dappline::DapplinePlugin";

typedef Poco::ClassLoader<Orvane::System::Service> Loader;
typedef const char* (*TextExport)();
typedef bool (*BuildManifest)(Poco::ManifestBase*);

// Some other plug-in interface a host might ask the library for.
class ForeignBase {
public:
    virtual ~ForeignBase() = default;
};

// dlopen handle of the plug-in, closed with the object.
class Library {
public:
    Library() : m_handle(dlopen(LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (m_handle)
            dlclose(m_handle);
    }
    void* symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }
    bool loaded() const { return m_handle != nullptr; }

private:
    void* m_handle;
};

std::string exportText(const Library& lib, const char* name) {
    TextExport fn = reinterpret_cast<TextExport>(lib.symbol(name));
    return fn ? std::string(fn()) : std::string("<missing export ") + name + ">";
}

}  // namespace

TEST(PluginEntry, ExportsTheFiveIdentityTexts) {
    Library lib;
    ASSERT_TRUE(lib.loaded()) << dlerror();
    EXPECT_EQ("dapplinepro", exportText(lib, "GetPluginName"));
    EXPECT_EQ("Share files and photos directly from your desktop",
              exportText(lib, "GetPluginDescription"));
    EXPECT_EQ("13.89.0.32926", exportText(lib, "GetPluginVersion"));
    EXPECT_EQ("ApplicationPlugin", exportText(lib, "GetPluginType"));
    EXPECT_EQ("", exportText(lib, "GetPluginURL"));
    EXPECT_NE(nullptr, lib.symbol("pocoInitializeLibrary"));
    EXPECT_NE(nullptr, lib.symbol("pocoUninitializeLibrary"));
}

TEST(PluginEntry, ManifestForAnotherBaseClassStaysEmpty) {
    Library lib;
    ASSERT_TRUE(lib.loaded()) << dlerror();
    BuildManifest build = reinterpret_cast<BuildManifest>(lib.symbol("pocoBuildManifest"));
    ASSERT_NE(nullptr, build);

    Poco::Manifest<ForeignBase> foreign;
    EXPECT_FALSE(build(&foreign));
    EXPECT_EQ(0, foreign.size());

    Poco::Manifest<Orvane::System::Service> services;
    EXPECT_TRUE(build(&services));
    ASSERT_EQ(1, services.size());
    EXPECT_NE(services.end(), services.find(CLASS_NAME));
}

TEST(PluginEntry, MetaObjectCreatesButIsNoSingleton) {
    Loader loader;
    loader.loadLibrary(LIBRARY);
    const Loader::Meta& meta = loader.classFor(CLASS_NAME);
    EXPECT_TRUE(meta.canCreate());
    try {
        meta.instance();
        FAIL() << "instance() must be refused";
    } catch (const Poco::InvalidAccessException& e) {
        EXPECT_NE(std::string::npos,
                  e.message().find("Not a singleton. Use create() to create instances of"));
        EXPECT_NE(std::string::npos, e.message().find(CLASS_NAME));
    }

    std::unique_ptr<Orvane::System::Service> first(meta.create());
    std::unique_ptr<Orvane::System::Service> second(meta.create());
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ("dapplinepro", first->name());
    EXPECT_EQ("dapplinepro", second->name());
    first.reset();
    second.reset();
    loader.unloadLibrary(LIBRARY);
}

class PluginEntryLoaded : public TestSupport::PluginFixture {
protected:
    void SetUp() override {
        startPluginInSetUp = false;
        PluginFixture::SetUp();
    }
};

TEST_F(PluginEntryLoaded, LoadedServiceRunsInitStartupMessagesAndShutdown) {
    Loader loader;
    loader.loadLibrary(LIBRARY);
    std::unique_ptr<Orvane::System::Service> service(loader.create(CLASS_NAME));
    ASSERT_TRUE(service);

    ASSERT_TRUE(service->init(m_pluginDir));
    ASSERT_TRUE(service->startup(Orvane::Dispatcher()));
    EXPECT_EQ(Orvane::Dispatcher(), service->dispatcher());
    EXPECT_TRUE(Orvane::Dispatcher()->isRegistered("dapplinepro"));
    ASSERT_TRUE(m_timer->waitForCount(1));

    // A request travels through both dispatchers into the loaded code and
    // is answered from the archive beside it.
    TestSupport::Reply css = call(request("dapplinepro.css"));
    EXPECT_EQ(200, css.status);
    EXPECT_EQ("text/css", css.contentType);
    EXPECT_EQ(TestSupport::readFile(ORVANE_TEST_SOURCE_DIR
                                    "/plugins/plugindappline/resources/dapplinepro.css"),
              css.body);

    EXPECT_TRUE(service->shutdown());
    EXPECT_FALSE(Orvane::Dispatcher()->isRegistered("dapplinepro"));
    ASSERT_EQ(2u, m_timer->count());
    EXPECT_EQ(Orvane::Defs::Timer::MO_TIMER_STOP, m_timer->messages()[1]->operation);
    service.reset();
    loader.unloadLibrary(LIBRARY);
}
