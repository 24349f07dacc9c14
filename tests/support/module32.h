// A 32-bit module as the 64-bit wrappers see it: a file with a PE header
// for the x86 processor and nothing else (it is never loaded), and a scan
// cache that knows its classes, as if the 32-bit scanner had read them.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline void writeX86Module(const std::string& path) {
    std::vector<char> image(0x200, 0);
    image[0] = 'M', image[1] = 'Z', image[0x3C] = static_cast<char>(0x80);
    std::memcpy(&image[0x80], "PE\0\0\x4C\x01", 6);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
}

// Marks the cache's record of the module whose path ends with `name` as
// read, with one class; false when the cache has no such record.
inline bool cacheAsRead(const std::string& cacheFile, const std::string& name, const std::string& classLine) {
    std::ifstream in(cacheFile, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    in.close();
    const size_t end = text.find(name + "\n");
    if (end == std::string::npos) return false;
    const size_t start = text.rfind("\nM ", end) + 1;
    const size_t flag = text.rfind(" 0 ", end);
    if (start == 0 || flag == std::string::npos || flag < start) return false;
    text[flag + 1] = '1';
    text.insert(end + name.size() + 1, classLine + "\n");
    std::ofstream(cacheFile, std::ios::binary) << text;
    return true;
}
