// CLAP modules: loading, deinitialising, and their effect lists.
#include "wrappers/clap/clapmodule.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace clap {

namespace {

Module* loaded = nullptr;

constexpr int kMaxFeatures = 64;

// Whether a null-terminated feature list holds `feature` (a list longer
// than any sensible one is read no further).
bool hasFeature(const char* const* features, const char* feature) {
    for (int i = 0; features && i < kMaxFeatures && features[i]; ++i)
        if (std::strcmp(features[i], feature) == 0) return true;
    return false;
}

bool copyPath(const char* path, char* out, size_t size) {
    const int n = std::snprintf(out, size, "%s", path);
    return out[0] != '\0' && n >= 0 && static_cast<size_t>(n) < size;
}

int32_t readModuleClasses(const char* path, PluginClass* out, int32_t capacity) {
    Module* module = moduleOpen(path);
    const int32_t count = module ? moduleEffects(module, out, capacity) : -1;
    moduleClose(module);
    return count;
}

}  // namespace

Module* moduleOpen(const char* path) {
    for (Module* m = loaded; m; m = m->next) {
        if (std::strcmp(m->path, path) == 0) {
            ++m->users;
            return m;
        }
    }
    auto* module = new (std::nothrow) Module();
    if (!module || !copyPath(path, module->path, sizeof module->path)) {
        delete module;
        return nullptr;
    }
    module->library = platformLoadModule(path);
    module->entry = static_cast<const PluginEntry*>(platformFindSymbol(module->library, kEntrySymbol));
    const PluginEntry* entry = module->entry;
    bool initialised = false;
    if (entry && versionIsCompatible(entry->clap_version) && entry->init && entry->get_factory) {
        initialised = entry->init(path);
        if (initialised) module->factory = static_cast<const PluginFactory*>(entry->get_factory(kPluginFactoryId));
    }
    if (!module->factory || !module->factory->get_plugin_count || !module->factory->get_plugin_descriptor ||
        !module->factory->create_plugin) {
        if (initialised && entry->deinit) entry->deinit();
        if (module->library) platformUnloadModule(module->library);
        delete module;
        return nullptr;
    }
    module->users = 1;
    module->next = loaded;
    loaded = module;
    return module;
}

void moduleClose(Module* module) {
    if (!module || --module->users > 0) return;
    for (Module** link = &loaded; *link; link = &(*link)->next) {
        if (*link == module) {
            *link = module->next;
            break;
        }
    }
    if (module->entry->deinit) module->entry->deinit();
    platformUnloadModule(module->library);
    delete module;
}

int32_t moduleEffects(Module* module, PluginClass* out, int32_t capacity) {
    const uint32_t count = module->factory->get_plugin_count(module->factory);
    if (count > static_cast<uint32_t>(kMaxModuleClasses)) return -1;
    int32_t written = 0;
    for (uint32_t i = 0; i < count && written < capacity; ++i) {
        const PluginDescriptor* d = module->factory->get_plugin_descriptor(module->factory, i);
        if (!d || !d->id || !d->name || !hasFeature(d->features, kFeatureAudioEffect)) continue;
        PluginClass& c = out[written];
        const int n = std::snprintf(c.id, sizeof c.id, "%s", d->id);
        if (n < 0 || static_cast<size_t>(n) >= sizeof c.id || !classIdValid(c.id)) continue;
        classNameFrom(d->name, kClassNameSize, c.name);
        if (!c.name[0]) continue;
        ++written;
    }
    return written;
}

namespace {

// A CLAP module is one file: its own size and time stand for it.
bool stampedFile(const char* path, char* out, size_t size) { return copyPath(path, out, size); }

}  // namespace

const ScanFormat kClapScan{".clap",
                           "QVCLAPCACHE",
                           "clapscan",
                           "CLAP",
                           "CLAP Plugins",
                           "CLAPCache",
                           "Quorvane Live CLAP cache.txt",
                           ".quorvane-live-clap-cache",
                           stampedFile,
                           readModuleClasses};

}  // namespace clap
