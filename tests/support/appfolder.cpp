#include "tests/support/appfolder.h"

#include <atomic>
#include <filesystem>

#include "platform/platform.h"
#include "tests/support/modules.h"

#if defined(_WIN32)
#include <windows.h>
#define PROCESS_ID GetCurrentProcessId()
#else
#include <unistd.h>
#define PROCESS_ID getpid()
#endif

namespace fs = std::filesystem;

std::string librarySuffix() { return platformModuleSuffix(); }

std::string testModulePath(const std::string& name) {
    fs::path stage(stagePath(""));
    return (stage.parent_path().parent_path() / "testmodules" / (name + librarySuffix())).string();
}

std::string stagedModule(const std::string& folder, const std::string& name) {
    return stagePath(folder + "/" + name + librarySuffix());
}

AppFolder::AppFolder() {
    static std::atomic<int> counter{0};
    fs::path root = fs::temp_directory_path() /
                    ("qvapp-" + std::to_string(PROCESS_ID) + "-" + std::to_string(++counter));
    fs::remove_all(root);
    fs::create_directories(root / "Wrappers");
    fs::create_directories(root / "Effects");
    path_ = root.string() + platformPathSeparator();
}

AppFolder::~AppFolder() {
    std::error_code ignored;
    fs::remove_all(fs::path(path_), ignored);
}

void AppFolder::addWrapper(const std::string& source, const std::string& name) const {
    fs::copy_file(source, fs::path(path_) / "Wrappers" / name, fs::copy_options::overwrite_existing);
}

void AppFolder::addEffect(const std::string& source, const std::string& name) const {
    fs::copy_file(source, fs::path(path_) / "Effects" / name, fs::copy_options::overwrite_existing);
}

void AppFolder::addStagedEffects() const {
    for (const char* effect : {"reverb", "echo", "flanger", "chorus"})
        addEffect(stagedModule("Effects", effect), effect + librarySuffix());
}

void AppFolder::removeFolder(const std::string& relative) const { fs::remove_all(fs::path(path_) / relative); }
