#include "streamconv/binding.h"

#include "platform/platform.h"

ConverterBinding gConverter;

bool converterBind(const char* path) {
    PlatformModule module = platformLoadModule(path);
    if (!module) return false;
    ConverterBinding b;
    b.process = reinterpret_cast<ProcessStreamFn>(platformFindSymbol(module, "processStream"));
    b.processMsb = reinterpret_cast<ProcessStreamFn>(platformFindSymbol(module, "processStreamMSB"));
    b.setHistory = reinterpret_cast<SetStreamHistoryFn>(platformFindSymbol(module, "setStreamHistory"));
    if (!b.process || !b.processMsb || !b.setHistory) {
        platformUnloadModule(module);
        return false;
    }
    gConverter = b;
    return true;
}
