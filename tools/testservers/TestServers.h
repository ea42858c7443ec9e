// Where a test finds the servers that qm_use_test_servers started (TestServers.cmake):
//
//   CdnBaseUrl()          "https://localhost:PORT" of the loopback nginx
//   CdnFolder()           the folder it serves; write the test's files there (own subfolder)
//   FaultsBaseUrl(kind)   "https://localhost:PORT" of the fault server's port of that kind:
//                         "good", "untrusted", "expired", "wrongname", "tls12" (faults.js)
//
// An empty text means the server is not running (the test was started without its fixture).
// Paths are as this program sees them: a Windows test under Wine gets "Z:/...".
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace TestServers
{
inline std::string StateFolder(std::string_view kind)
{
    const char* build = std::getenv("QM_BUILD_DIR");
    if (build == nullptr)
    {
        return {};
    }
#ifdef _WIN32
    const std::string drive = "Z:";
#else
    const std::string drive;
#endif
    return drive + build + "/testservers/" + std::string(kind);
}

inline std::string ReadPort(std::string_view kind, std::string_view key)
{
    std::ifstream file(StateFolder(kind) + (key.empty() ? "/port" : "/ports"));
    std::string line;
    while (std::getline(file, line))
    {
        if (key.empty())
        {
            return line;
        }
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
        {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

inline std::string CdnBaseUrl()
{
    const std::string port = ReadPort("cdn", "");
    return port.empty() ? std::string() : "https://localhost:" + port;
}

inline std::string CdnFolder()
{
    return StateFolder("cdn") + "/www";
}

inline std::string FaultsBaseUrl(std::string_view kind = "good")
{
    const std::string port = ReadPort("faults", kind);
    return port.empty() ? std::string() : "https://localhost:" + port;
}
}
