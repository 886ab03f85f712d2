#include "Platform/Security/Security.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <nlohmann/json.hpp>
#include <openssl/rand.h>

#include "Platform/Foundation/FileWriting.h"
#include "Platform/Foundation/Text.h"

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace Security {

namespace {

// Holds the cross-process lock for the duration of one keychain call.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

struct Item {
    std::string service;
    std::string account;
    Foundation::Data secret;
};

// The items of the file; a file that cannot be read as a keychain is moved
// aside (kept for inspection) and counts as empty.
bool readItems(const std::string& path, std::vector<Item>& items) {
    items.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return true;
    std::stringstream buffer;
    buffer << in.rdbuf();
    Json json = Json::parse(buffer.str(), nullptr, false);
    bool valid = !json.is_discarded() && json.is_object() && json.contains("items") && json["items"].is_array();
    if (valid) {
        for (const Json& entry : json["items"]) {
            if (!entry.is_object() || !entry.contains("service") || !entry.contains("account") ||
                !entry.contains("data") || !entry["service"].is_string() || !entry["account"].is_string() ||
                !entry["data"].is_string()) {
                valid = false;
                break;
            }
            auto secret = Foundation::base64DecodeStrict(entry["data"].get<std::string>());
            if (!secret) {
                valid = false;
                break;
            }
            items.push_back({entry["service"].get<std::string>(), entry["account"].get<std::string>(), *secret});
        }
    }
    if (!valid) {
        items.clear();
        // Kept under a new name each time, so a second damage never replaces the first copy.
        if (const auto aside = Foundation::setFileAside(path))
            std::fprintf(stderr, "Security: keychain file %s is unreadable; moved aside to %s\n", path.c_str(),
                         aside->c_str());
        else
            std::fprintf(stderr, "Security: keychain file %s is unreadable and could not be moved aside\n",
                         path.c_str());
    }
    return true;
}

bool writeItems(const std::string& path, const std::vector<Item>& items) {
    Json json = Json::object();
    json["items"] = Json::array();
    for (const Item& item : items)
        json["items"].push_back(
            {{"service", item.service}, {"account", item.account}, {"data", Foundation::base64Encode(item.secret)}});
    std::string text = json.dump(2);
    // Secrets: readable by the user alone from the moment the file exists.
    return Foundation::writeFileAtomically(path, text, nullptr, 0600);
}

}  // namespace

Keychain::Keychain(std::string filePath) : filePath_(std::move(filePath)) {}

namespace {

// Runs `change` on the items under both locks; writes them back when it asks to.
OSStatus withItems(const std::string& path, std::mutex& lock,
                   const std::function<OSStatus(std::vector<Item>&, bool& write)>& change) {
    if (path.empty()) return errSecParam;
    std::lock_guard<std::mutex> guard(lock);
    std::error_code error;
    fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, error);
        if (error) return errSecIO;
    }
    FileLock fileLock(path + ".lock");
    if (!fileLock.ok()) return errSecIO;
    std::vector<Item> items;
    if (!readItems(path, items)) return errSecIO;
    bool write = false;
    OSStatus status = change(items, write);
    if (status == errSecSuccess && write && !writeItems(path, items)) return errSecIO;
    return status;
}

}  // namespace

OSStatus Keychain::addGenericPassword(const std::string& service, const std::string& account,
                                      const Foundation::Data& secret) {
    return withItems(filePath_, lock_, [&](std::vector<Item>& items, bool& write) {
        for (const Item& item : items)
            if (item.service == service && item.account == account) return errSecDuplicateItem;
        items.push_back({service, account, secret});
        write = true;
        return errSecSuccess;
    });
}

OSStatus Keychain::updateGenericPassword(const std::string& service, const std::string& account,
                                         const Foundation::Data& secret) {
    return withItems(filePath_, lock_, [&](std::vector<Item>& items, bool& write) {
        for (Item& item : items) {
            if (item.service == service && item.account == account) {
                item.secret = secret;
                write = true;
                return errSecSuccess;
            }
        }
        return errSecItemNotFound;
    });
}

OSStatus Keychain::copyGenericPassword(const std::string& service, const std::string& account,
                                       Foundation::Data& secret) {
    return withItems(filePath_, lock_, [&](std::vector<Item>& items, bool&) {
        for (const Item& item : items) {
            if (item.service == service && item.account == account) {
                secret = item.secret;
                return errSecSuccess;
            }
        }
        return errSecItemNotFound;
    });
}

OSStatus Keychain::deleteGenericPassword(const std::string& service, const std::string& account) {
    return withItems(filePath_, lock_, [&](std::vector<Item>& items, bool& write) {
        for (auto it = items.begin(); it != items.end(); ++it) {
            if (it->service == service && it->account == account) {
                items.erase(it);
                write = true;
                return errSecSuccess;
            }
        }
        return errSecItemNotFound;
    });
}

OSStatus randomCopyBytes(std::size_t count, std::uint8_t* bytes) {
    if (count == 0) return errSecSuccess;
    if (!bytes || count > static_cast<std::size_t>(INT32_MAX)) return errSecParam;
    return RAND_bytes(bytes, static_cast<int>(count)) == 1 ? errSecSuccess : errSecIO;
}

}  // namespace Security
