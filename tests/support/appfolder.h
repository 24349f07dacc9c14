// A throwaway application directory for one test, with Wrappers and Effects
// folders to fill with staged or test-only modules.
#pragma once

#include <string>

class AppFolder {
public:
    AppFolder();
    ~AppFolder();
    AppFolder(const AppFolder&) = delete;
    AppFolder& operator=(const AppFolder&) = delete;

    // The directory, ending with the path separator, as the host passes it.
    const std::string& path() const { return path_; }
    // Copies a module file into Wrappers or Effects under `name`.
    void addWrapper(const std::string& source, const std::string& name) const;
    void addEffect(const std::string& source, const std::string& name) const;
    // The whole staged Effects folder.
    void addStagedEffects() const;
    void removeFolder(const std::string& relative) const;

private:
    std::string path_;
};

// A test-only module built beside the tests ("name" without suffix).
std::string testModulePath(const std::string& name);
// A staged module, e.g. stagedModule("Effects", "echo").
std::string stagedModule(const std::string& folder, const std::string& name);
// The platform's library suffix.
std::string librarySuffix();
