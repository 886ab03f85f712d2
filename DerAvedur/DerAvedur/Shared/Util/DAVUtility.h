#pragma once
// Class-level helpers shared by the whole SDK: strings, environment and
// application state, dates, files below the SDK's directory, property
// validation, identity and keyed archiving.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Value.h"

class DAVUtility {
public:
    // --- identity ---------------------------------------------------------
    static std::string sdkName();     // "deravedur.macos"
    static std::string sdkVersion();  // "4.1.1"

    // --- string formatting ------------------------------------------------
    // 64 lower-case hex digits of the SHA-256 of the text's bytes.
    static std::string sha256(const std::string& text);
    // Split the configuration string ("appsecret=…;target=…", "macos=…").
    static std::optional<std::string> appSecretFrom(const std::optional<std::string>& string);
    static std::optional<std::string> transmissionTargetTokenFrom(const std::optional<std::string>& string);
    // The text before the first "-"; nothing when that is empty.
    static std::optional<std::string> targetKeyFromTargetToken(const std::optional<std::string>& token);
    // "o:" and the target key; nothing when the key is empty.
    static std::optional<std::string> iKeyFromTargetToken(const std::optional<std::string>& token);
    // Pretty JSON of the data, or the data as text when it is no JSON.
    static std::optional<std::string> prettyPrintJson(const std::optional<Foundation::Data>& data);
    // Replaces every case-insensitive match of `pattern` by `replacement`
    // ("$1" refers to a group). Nothing for a pattern that does not compile.
    static std::optional<std::string> obfuscateString(const std::optional<std::string>& string,
                                                      const std::string& pattern, const std::string& replacement);

    // --- environment and application ----------------------------------------
    // 99 (other); callers compare with 0 (App Store).
    static int currentAppEnvironment();
    static bool hasEmbeddedMobileProvision();
    static bool isAppStoreReceiptSandbox();
    // 0 active, 2 background (hidden), 3 unknown (off the main thread or an extension).
    static int applicationState();
    // The application shell reports whether it is hidden; nothing reports "not hidden".
    static void setApplicationHiddenProvider(std::function<bool()> provider);

    // --- dates --------------------------------------------------------------
    static double nowInMilliseconds();
    static std::string dateToISO8601(Foundation::Date date);
    static std::optional<Foundation::Date> dateFromISO8601(const std::string& text);
    static void resetDateFormatterInstance();

    // --- files (components are relative to the SDK directory) ---------------
    // <application support>/com.vaveruvav.deravedur, computed once per process.
    static const std::string& sdkDirectory();
    static std::optional<std::string> createFileAtPathComponent(const std::optional<std::string>& component,
                                                                const std::optional<Foundation::Data>& data,
                                                                bool atomically, bool forceOverwrite);
    static bool deleteItemForPathComponent(const std::optional<std::string>& component);
    static bool deleteFileAtURL(const std::optional<std::string>& path);
    static std::optional<std::string> createDirectoryForPathComponent(const std::optional<std::string>& component);
    static std::optional<Foundation::Data> loadDataForPathComponent(const std::optional<std::string>& component);
    // Full paths of the directory's entries, sorted; nothing on error.
    static std::optional<std::vector<std::string>> contentsOfDirectory(const std::optional<std::string>& component);
    static bool fileExistsForPathComponent(const std::optional<std::string>& component);
    static std::optional<std::string> fullURLForPathComponent(const std::optional<std::string>& component);
    // Creates the directory and its parents and marks it excluded from backup.
    static bool createDirectoryAtURL(const std::string& path);

    // --- property validation -------------------------------------------------
    // At most 20 text pairs; keys and values cut to 125 UTF-16 units.
    static Foundation::Dictionary validateProperties(const Foundation::Dictionary& properties,
                                                     const std::string& logName, const std::string& logType);

    // --- keyed archiving ----------------------------------------------------
    static std::optional<Foundation::Data> archiveKeyedData(const Foundation::Value& object);
    // Null on failure.
    static Foundation::Value unarchiveKeyedData(const Foundation::Data& data);
    // Old archived class name -> current class name, applied when unarchiving.
    static void addMigrationClasses(const std::map<std::string, std::string>& migrations);
    static std::map<std::string, std::string> migrationClasses();
};
