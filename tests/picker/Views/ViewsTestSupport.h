#pragma once
// A harness with a library on a fresh store, a seeded random source and the
// usage events recorded.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Foundation/Directories.h"
#include "Platform/Harness/Harness.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Colors/Randoms.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Views/Editor/UsageEvents.h"
#include "picker/Views/Editor/ZNLColorChooserViewController.h"

namespace viewstest {

using namespace AppKit;

class RecordingOwner : public ZNLColorChooserDelegate {
public:
    void colorChooserDidCancel(ZNLColorChooserViewController& e) override { cancelled.push_back(&e); }
    void colorChooserDidSave(const NSColorRef& c, const std::string& name, ZNLColorChooserViewController& e) override {
        saved.push_back({c, name, &e});
    }
    struct Save {
        NSColorRef color;
        std::string name;
        ZNLColorChooserViewController* editor;
    };
    std::vector<ZNLColorChooserViewController*> cancelled;
    std::vector<Save> saved;
};

class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = Foundation::temporaryDirectory();
        configureLibraryStore();
        useStoreAt(dir + "/default.realm");
        setRandomSource(std::make_shared<SeededRandomSource>(7));
        setUsageEventObserver([this](const std::string& e) { events.push_back(e); });
    }
    void TearDown() override {
        // Open windows keep their producers alive: close them as a user would.
        for (auto& w : AppKit::NSApplication::shared().windows()) w->close();
        h.drain();
        setUsageEventObserver(nullptr);
        setRandomSource(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    static void useStoreAt(const std::string& path) {
        auto c = ObjectStore::Configuration::defaultConfiguration();
        c.path = path;
        ObjectStore::Configuration::setDefaultConfiguration(c);
    }
    void breakStore() { useStoreAt(dir + "/missing/default.realm"); }
    void mendStore() { useStoreAt(dir + "/default.realm"); }

    std::shared_ptr<EditorWindowProducer> openEditor(NSColorRef c, std::optional<CGPoint> origin = CGPoint{300, 300}) {
        auto producer = ZNLColorChooserViewController::open(c, std::make_shared<ZNLColorItem>(), owner, origin);
        h.drain();
        return producer;
    }
    std::vector<std::shared_ptr<NSWindow>> visibleWindows() const {
        std::vector<std::shared_ptr<NSWindow>> out;
        for (auto& w : AppKit::NSApplication::shared().windows())
            if (w->isVisible()) out.push_back(w);
        return out;
    }
    std::vector<std::shared_ptr<NSWindow>> editorWindows() const {
        std::vector<std::shared_ptr<NSWindow>> out;
        for (auto& w : visibleWindows())
            if (std::dynamic_pointer_cast<ZNLColorChooserViewController>(w->contentViewController())) out.push_back(w);
        return out;
    }
    long count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }

    Harness::UIHarness h;
    std::string dir;
    std::vector<std::string> events;
    std::shared_ptr<RecordingOwner> owner = std::make_shared<RecordingOwner>();
};

}  // namespace viewstest
