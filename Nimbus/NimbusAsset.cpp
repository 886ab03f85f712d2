#include "Nimbus/NimbusAsset.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Nimbus/Nimbus.h"
#include "Platform/Foundation/Directories.h"

namespace Nimbus {

namespace fs = std::filesystem;
using ObjectStore::Property;
using ObjectStore::PropertyType;

namespace {
ObjectStore::ObjectTypeRegistration<NimbusAsset> registration;
}

ObjectStore::SchemaRef NimbusAsset::objectSchema() {
    static const ObjectStore::SchemaRef schema = [] {
        auto s = std::make_shared<ObjectStore::ObjectSchema>();
        s->className = "NimbusAsset";
        s->properties = {Property::make("uniqueFileName", PropertyType::String, "")};
        return s;
    }();
    return schema;
}

NimbusAsset::NimbusAsset() : ObjectStore::Object(objectSchema()) {}
NimbusAsset::NimbusAsset(ObjectStore::Binding binding) : ObjectStore::Object(std::move(binding)) {}

std::string NimbusAsset::uniqueFileName() const { return getString(0); }
void NimbusAsset::setUniqueFileName(const std::string& name) { set(0, name); }

std::string NimbusAsset::filePath() const { return assetDirectory() + "/" + uniqueFileName(); }

std::string NimbusAsset::assetDirectory() {
    std::string dir = Foundation::applicationSupportDirectory() + "/NimbusAsset";
    // Older versions kept these files in the user's Documents folder.
    Foundation::moveOldFolder(Foundation::homeDirectory() + "/Documents/NimbusAsset", dir);
    ::mkdir(dir.c_str(), 0777);  // a failure is ignored
    return dir;
}

std::shared_ptr<NimbusAsset> NimbusAsset::create(const std::string& objectID, const std::string& propertyName,
                                                 const Foundation::Data& data, bool overwrite) {
    auto asset = std::make_shared<NimbusAsset>();
    asset->data_ = data;
    asset->setUniqueFileName(objectID + "_" + propertyName);
    const std::string path = asset->filePath();
    std::error_code ec;
    if (!overwrite && fs::exists(path, ec)) return asset;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) debugLog("Error writing avatar to temporary directory: " + std::string("cannot write ") + path);
    return asset;
}

std::shared_ptr<NimbusAsset> NimbusAsset::createFromFile(const std::string& objectID, const std::string& propertyName,
                                                         const std::string& filePath) {
    std::ifstream in(filePath, std::ios::binary);
    if (!in) return nullptr;
    Foundation::Data data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return nullptr;
    return create(objectID, propertyName, data, true);
}

std::vector<std::string> NimbusAsset::assetFileNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(assetDirectory(), ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec) return {};
    return names;
}

void NimbusAsset::deleteCacheFiles(const std::vector<std::string>& fileNames) {
    const std::string dir = assetDirectory();
    for (const auto& name : fileNames) {
        const std::string path = dir + "/" + name;
        debugLog("deleteCacheFiles.removeItem:", path);
        std::error_code ec;
        fs::remove(path, ec);
    }
}

void NimbusAsset::deleteFilesOfObject(const std::string& objectID) {
    if (objectID.empty()) return;  // every name would match
    std::vector<std::string> matching;
    for (const auto& name : assetFileNames())
        if (name.find(objectID) != std::string::npos) matching.push_back(name);
    deleteCacheFiles(matching);
}

std::optional<Foundation::Data> NimbusAsset::readData() const {
    std::ifstream in(filePath(), std::ios::binary);
    if (!in) return std::nullopt;
    return Foundation::Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace Nimbus
