#include "platform/environment.h"

namespace platform::environment {

std::pair<std::string, std::string> split_entry(const std::string& entry) {
    size_t eq = entry.find('=', 1);
    if (entry.empty() || eq == std::string::npos) return {entry, std::string()};
    return {entry.substr(0, eq), entry.substr(eq + 1)};
}

const char* edition_name(uint32_t major, uint32_t minor, bool workstation, uint32_t build) {
    struct Edition {
        uint32_t major, minor;
        const char* workstation;
        const char* server;
    };
    static const Edition editions[] = {
        {5, 0, "2000", "2000"},   {5, 1, "XP", "XP"},
        {5, 2, "Server 2003", "Server 2003 R2"},
        {6, 0, "Vista", "Server 2008"},  {6, 1, "7", "Server 2008 R1"},
        {6, 2, "8", "Server 2012"},      {6, 3, "8.1", "Server 2012 R2"},
    };
    if (major == 5 || major == 6) {
        for (const Edition& e : editions)
            if (e.major == major && e.minor == minor) return workstation ? e.workstation : e.server;
        return nullptr;
    }
    if (workstation) return build < 22000 ? "10" : "11";
    if (build < 17134) return "Server 2016";
    return build < 20285 ? "Server 2019" : "Server 2022";
}

const char* arch_name(uint32_t architecture) {
    switch (architecture) {
    case 0: return "x86-32";
    case 5: return "ARM";
    case 6: return "IA-64";
    case 9: return "x86-64";
    case 12: return "ARM64";
    default: return "Unknown";
    }
}

}  // namespace platform::environment
