#pragma once
// A file-backed cloud asset of a persistent object: its bytes live in a file
// "<record name>_<property name>" of the "NimbusAsset" directory in the
// application's data directory (older versions' files in ~/Documents move
// there once).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Value.h"
#include "Platform/ObjectStore/Object.h"

namespace Nimbus {

class NimbusAsset : public ObjectStore::Object {
public:
    static ObjectStore::SchemaRef objectSchema();
    NimbusAsset();
    explicit NimbusAsset(ObjectStore::Binding binding);

    // Stored.
    std::string uniqueFileName() const;
    void setUniqueFileName(const std::string& name);
    // Not stored: the bytes while the asset is being made; the file's path.
    const std::optional<Foundation::Data>& data() const { return data_; }
    std::string filePath() const;
    static std::vector<std::string> ignoredProperties() { return {"data", "filePath"}; }

    // A new unmanaged asset for (object ID, property); the bytes are written to
    // its file unless `overwrite` is false and the file exists. Returned also
    // when writing failed.
    static std::shared_ptr<NimbusAsset> create(const std::string& objectID, const std::string& propertyName,
                                               const Foundation::Data& data, bool overwrite = true);
    // The same from a file; nothing when the file cannot be read.
    static std::shared_ptr<NimbusAsset> createFromFile(const std::string& objectID, const std::string& propertyName,
                                                       const std::string& filePath);

    // The directory, made (without intermediate directories) when missing.
    static std::string assetDirectory();
    // Entry names of the directory; empty when it cannot be listed.
    static std::vector<std::string> assetFileNames();
    static void deleteCacheFiles(const std::vector<std::string>& fileNames);
    // Removes every file whose name contains the object ID.
    static void deleteFilesOfObject(const std::string& objectID);

    std::optional<Foundation::Data> readData() const;

private:
    std::optional<Foundation::Data> data_;
};

}  // namespace Nimbus
