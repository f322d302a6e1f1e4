#include "instruments/help_path.h"

#include <cstring>

#include "program_path.h"

namespace kx305mon {

std::string HelpPathFor(const std::string& programPath, const char* extension) {
    if (programPath.empty()) return "";
    // Both separators count: Windows accepts "/" too, and the tests feed
    // Windows paths to the native build.
    const size_t slash = programPath.find_last_of("\\/");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = programPath.find_last_of('.');
    // A dot that opens the file name (".kx305mon") marks a hidden file, not
    // an extension.
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    std::string path = programPath.substr(0, hasExtension ? dot : programPath.size());
    return path + (extension != nullptr ? extension : "");
}

char* HelpFilePath(char* buffer, size_t size, const char* extension) {
    if (buffer == nullptr || size == 0) return buffer;
    const std::string path = HelpPathFor(ProgramPath(), extension);
    const size_t n = path.size() < size - 1 ? path.size() : size - 1;
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return buffer;
}

}  // namespace kx305mon
