// A stand-in for a Windows console program that the test prefix lacks or must not run for real. It
// answers from its own file name, with realistic text and documentation-range addresses only; it
// touches no network.
//
// Tests steer any stand-in through the environment: KVX_STANDIN_MODE "hang" (stay alive for ten
// minutes) or "flood" (print KVX_STANDIN_FLOOD_BYTES bytes, 20000000 unless given), for every stand-in
// or only for the one named in KVX_STANDIN_TARGET.
//
// A test that plants personal data names the machine through KVX_STANDIN_HOST, _DOMAIN, _OWNER, _MAC,
// _IPV4, _IPV6, _USER and _SID, and adds DNS cache entries with KVX_STANDIN_DNS ("name=address,...").
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string OwnName()
{
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) {
        name = name.substr(0, dot);
    }
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

std::string FirstArgument(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-' && argv[i][0] != '/') {
            return argv[i];
        }
    }
    return "";
}

std::string Environment(const char* name);

// A planted value, or the stand-in's own.
std::string Planted(const char* name, const char* fallback)
{
    const std::string value = Environment(name);
    return value.empty() ? fallback : value;
}

int Route()
{
    std::printf("===========================================================================\r\n"
                "Interface List\r\n"
                "  1...........................Software Loopback Interface 1\r\n"
                " 11...00 15 5d 01 02 03 ......Ethernet Adapter\r\n"
                "===========================================================================\r\n\r\n"
                "IPv4 Route Table\r\n"
                "===========================================================================\r\n"
                "Active Routes:\r\n"
                "Network Destination        Netmask          Gateway       Interface  Metric\r\n"
                "          0.0.0.0          0.0.0.0        192.0.2.1      192.0.2.20     25\r\n"
                "        127.0.0.0        255.0.0.0         On-link         127.0.0.1    331\r\n"
                "        192.0.2.0    255.255.255.0         On-link        192.0.2.20    281\r\n"
                "===========================================================================\r\n"
                "Persistent Routes:\r\n  None\r\n");
    return 0;
}

int Nbtstat()
{
    std::printf("\r\n    NetBIOS Names Resolution and Registration Statistics\r\n"
                "    ----------------------------------------------------\r\n\r\n"
                "    Resolved By Broadcast     = 0\r\n    Resolved By Name Server   = 0\r\n\r\n"
                "    Registered By Broadcast   = 2\r\n    Registered By Name Server = 0\r\n\r\n"
                "Ethernet:\r\nNode IpAddress: [192.0.2.20] Scope Id: []\r\n\r\n"
                "                NetBIOS Local Name Table\r\n\r\n"
                "       Name               Type         Status\r\n"
                "    ---------------------------------------------\r\n"
                "    WORKSTATION    <00>  UNIQUE      Registered\r\n"
                "    WORKGROUP      <00>  GROUP       Registered\r\n");
    return 0;
}

int Nslookup(const std::string& host)
{
    std::printf("Server:  resolver.example\r\nAddress:  192.0.2.53\r\n\r\n");
    if (host.empty()) {
        return 1;
    }
    std::printf("Non-authoritative answer:\r\nName:    %s\r\nAddress:  192.0.2.80\r\n\r\n", host.c_str());
    return 0;
}

int Ping(const std::string& host)
{
    if (host.empty()) {
        std::printf("Usage: ping [-t] [-n count] target_name\r\n");
        return 1;
    }
    std::printf("\r\nPinging %s [192.0.2.80] with 32 bytes of data:\r\n", host.c_str());
    for (int i = 0; i < 4; ++i) {
        std::printf("Reply from 192.0.2.80: bytes=32 time=%dms TTL=54\r\n", 20 + i);
    }
    std::printf("\r\nPing statistics for 192.0.2.80:\r\n"
                "    Packets: Sent = 4, Received = 4, Lost = 0 (0%% loss),\r\n"
                "Approximate round trip times in milli-seconds:\r\n"
                "    Minimum = 20ms, Maximum = 23ms, Average = 21ms\r\n");
    return 0;
}

int DriverQuery()
{
    static const char* const drivers[][4] = {
        {"KVXTMGR", "Orvex TDI Manager", "Kernel", "Running"},
        {"KVXNMGR", "Orvex NDIS Manager", "Kernel", "Running"},
        {"KVXMON", "Orvex Network Monitor", "Kernel", "Running"},
        {"KVXFLTA", "Orvex Filter A", "Kernel", "Running"},
        {"Tcpip", "TCP/IP Protocol Driver", "Kernel", "Running"},
        {"NDIS", "NDIS System Driver", "Kernel", "Running"},
    };
    std::printf("Module Name  Display Name           Description            Driver Type   Start Mode State\r\n"
                "============ ====================== ====================== ============= ========== ==========\r\n");
    for (const auto& d : drivers) {
        std::printf("%-12s %-22s %-22s %-13s %-10s %-10s\r\n", d[0], d[1], d[1], d[2], "System", d[3]);
    }
    return 0;
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The file named after "file=" (netsh) or as the second argument (wevtutil epl).
std::string Arguments(int argc, char** argv)
{
    std::string all;
    for (int i = 1; i < argc; ++i) {
        all += std::string(i > 1 ? " " : "") + argv[i];
    }
    return all;
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return true;
}

int Ipconfig(const std::string& args)
{
    if (args == "/displaydns") {
        std::printf("\r\nWindows IP Configuration\r\n\r\n"
                    "    www.orvex.example\r\n    ----------------------------------------\r\n"
                    "    Record Name . . . . . : www.orvex.example\r\n    Record Type . . . . . : 1\r\n"
                    "    Time To Live  . . . . : 3412\r\n    Data Length . . . . . : 4\r\n"
                    "    Section . . . . . . . : Answer\r\n    A (Host) Record . . . : 192.0.2.80\r\n\r\n");
        const std::string planted = Environment("KVX_STANDIN_DNS");
        for (size_t start = 0; start < planted.size();) {
            size_t stop = planted.find(',', start);
            if (stop == std::string::npos) {
                stop = planted.size();
            }
            const std::string entry = planted.substr(start, stop - start);
            const size_t equals = entry.find('=');
            const std::string name = entry.substr(0, equals);
            const std::string address = equals == std::string::npos ? "192.0.2.81" : entry.substr(equals + 1);
            std::printf("    %s\r\n    ----------------------------------------\r\n"
                        "    Record Name . . . . . : %s\r\n    Record Type . . . . . : 1\r\n"
                        "    Section . . . . . . . : Answer\r\n    A (Host) Record . . . : %s\r\n\r\n",
                        name.c_str(), name.c_str(), address.c_str());
            start = stop + 1;
        }
        return 0;
    }
    const std::string domain = Environment("KVX_STANDIN_DOMAIN");
    const std::string ipv6 = Environment("KVX_STANDIN_IPV6");
    std::printf("\r\nWindows IP Configuration\r\n\r\n   Host Name . . . . . . . . . . . . : %s\r\n"
                "   Primary Dns Suffix  . . . . . . . : %s\r\n"
                "   Node Type . . . . . . . . . . . . : Hybrid\r\n   IP Routing Enabled. . . . . . . . : No\r\n\r\n"
                "Ethernet adapter Ethernet:\r\n\r\n   Description . . . . . . . . . . . : Ethernet Adapter\r\n"
                "   Physical Address. . . . . . . . . : %s\r\n   DHCP Enabled. . . . . . . . . . . : Yes\r\n",
                Planted("KVX_STANDIN_HOST", "WORKSTATION").c_str(), domain.c_str(),
                Planted("KVX_STANDIN_MAC", "00-15-5D-01-02-03").c_str());
    if (!ipv6.empty()) {
        std::printf("   Link-local IPv6 Address . . . . . : %s%%11(Preferred)\r\n", ipv6.c_str());
    }
    std::printf("   IPv4 Address. . . . . . . . . . . : %s(Preferred)\r\n"
                "   Subnet Mask . . . . . . . . . . . : 255.255.255.0\r\n   Default Gateway . . . . . . . . . : 192.0.2.1\r\n"
                "   DNS Servers . . . . . . . . . . . : 192.0.2.53\r\n",
                Planted("KVX_STANDIN_IPV4", "192.0.2.20").c_str());
    return 0;
}

int Netsh(const std::string& args)
{
    const size_t file = args.find("file=");
    if (args.compare(0, 4, "wfp ") == 0 && file != std::string::npos) {
        std::string path = args.substr(file + 5);
        if (!path.empty() && path.front() == '"') {
            path = path.substr(1, path.find('"', 1) - 1);
        }
        const bool state = args.find("show state") != std::string::npos;
        const std::string xml = state ? "<?xml version=\"1.0\"?>\r\n<wfpstate>\r\n <providers><item><displayData>"
                                        "<name>Orvex Network Manager</name></displayData></item></providers>\r\n</wfpstate>\r\n"
                                      : "<?xml version=\"1.0\"?>\r\n<wfpdiag>\r\n <filters><item><filterKey>"
                                        "{0d5bd1c5-3a6c-4f2a-9c3e-1b2a3c4d5e6f}</filterKey><displayData><name>Orvex ALE "
                                        "filter</name></displayData><layerKey>FWPM_LAYER_ALE_AUTH_CONNECT_V4</layerKey>"
                                        "</item></filters>\r\n</wfpdiag>\r\n";
        if (!WriteFileText(path, xml)) {
            std::printf("The system cannot find the path specified.\r\n");
            return 1;
        }
        std::printf("\r\nData collection successful; output = %s\r\n", path.c_str());
        return 0;
    }
    if (args == "winsock show catalog") {
        for (int i = 0; i < 3; ++i) {
            std::printf("\r\nWinsock Catalog Provider Entry\r\n------------------------------------------------------\r\n"
                        "Entry Type:                         Base Service Provider\r\n"
                        "Description:                        MSAFD Tcpip [%s]\r\n"
                        "Provider Path:                      %%SystemRoot%%\\system32\\mswsock.dll\r\n"
                        "Catalog Entry ID:                   %d\r\n",
                        i == 0 ? "TCP/IP" : i == 1 ? "UDP/IP" : "RAW/IP", 1001 + i);
        }
        return 0;
    }
    if (args == "winhttp show proxy") {
        std::printf("\r\nCurrent WinHTTP proxy settings:\r\n\r\n    Direct access (no proxy server).\r\n\r\n");
        return 0;
    }
    std::printf("The following command was not found: %s.\r\n", args.c_str());
    return 1;
}

int Systeminfo()
{
    std::printf("\r\nHost Name:                 %s\r\nOS Name:                   Microsoft Windows 10 Pro\r\n"
                "OS Version:                10.0.19045 N/A Build 19045\r\nRegistered Owner:          %s\r\n"
                "System Type:               x64-based PC\r\n"
                "System Boot Time:          09/12/2026, 00:12:33\r\nHotfix(s):                 2 Hotfix(s) Installed.\r\n"
                "                           [01]: KB5031988\r\n                           [02]: KB5032189\r\n"
                "Domain:                    %s\r\n"
                "Network Card(s):           1 NIC(s) Installed.\r\n                           [01]: Ethernet Adapter\r\n",
                Planted("KVX_STANDIN_HOST", "WORKSTATION").c_str(), Planted("KVX_STANDIN_OWNER", "N/A").c_str(),
                Planted("KVX_STANDIN_DOMAIN", "WORKGROUP").c_str());
    return 0;
}

int Wevtutil(int argc, char** argv)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "epl" && argc > 3) {
        // An export file starts with the log file signature; the rest does not matter to the tests.
        std::string evtx("ElfFile\0", 8);
        evtx.resize(69632, '\0');
        return WriteFileText(argv[3], evtx) ? 0 : 5;
    }
    if (verb == "qe") {
        std::printf("Event[0]:\r\n  Log Name: System\r\n  Source: KVXFLTA\r\n  Date: 2026-12-08T21:14:03.000\r\n"
                    "  Event ID: 4\r\n  Level: Warning\r\n  Description: \r\nThe filter's rule cache was rebuilt.\r\n\r\n"
                    "Event[1]:\r\n  Log Name: System\r\n  Source: Tcpip\r\n  Date: 2026-12-07T08:02:11.000\r\n"
                    "  Event ID: 4199\r\n  Level: Error\r\n  Description: \r\nThe system detected an address conflict.\r\n");
        const std::string user = Environment("KVX_STANDIN_USER");
        if (!user.empty()) {
            std::printf("\r\nEvent[2]:\r\n  Log Name: System\r\n  Source: KVXFLTF\r\n  User: %s\r\n"
                        "  Computer: %s\r\n  Description: \r\nRule loaded for C:\\Users\\%s\\AppData\\app.exe\r\n"
                        "  Account Name: %s\r\n",
                        Planted("KVX_STANDIN_SID", "S-1-5-18").c_str(), Planted("KVX_STANDIN_HOST", "WORKSTATION").c_str(),
                        user.c_str(), user.c_str());
        }
        return 0;
    }
    return 87;
}

int Fltmc(const std::string& verb)
{
    if (verb == "instances") {
        std::printf("\r\nFilter                Volume Name                              Altitude        Instance Name       Frame\r\n"
                    "--------------------  -------------------------------------  ------------  ----------------------  -----\r\n"
                    "WdFilter              C:                                       328010        WdFilter Instance         0\r\n"
                    "luafv                 C:                                       135000        luafv                     0\r\n");
        return 0;
    }
    std::printf("\r\nFilter Name                     Num Instances    Altitude    Frame\r\n"
                "------------------------------  -------------  ------------  -----\r\n"
                "WdFilter                                4       328010         0\r\n"
                "luafv                                   1       135000         0\r\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string name = OwnName();
    const std::string host = FirstArgument(argc, argv);
    const std::string target = Environment("KVX_STANDIN_TARGET");
    if (target.empty() || target == name) {
        const std::string mode = Environment("KVX_STANDIN_MODE");
        if (mode == "hang") {
            std::printf("working...\r\n");
            std::fflush(stdout);
            ::Sleep(600000);
            return 0;
        }
        if (mode == "flood") {
            const std::string bytes = Environment("KVX_STANDIN_FLOOD_BYTES");
            unsigned long left = bytes.empty() ? 20000000ul : std::strtoul(bytes.c_str(), nullptr, 10);
            std::string line(99, 'x');
            line += '\n';
            while (left > 0) {
                const size_t piece = left < line.size() ? left : line.size();
                std::fwrite(line.data(), 1, piece, stdout);
                left -= static_cast<unsigned long>(piece);
            }
            return 0;
        }
    }
    const std::string args = Arguments(argc, argv);
    if (name == "ipconfig") {
        return Ipconfig(args);
    }
    if (name == "netsh") {
        return Netsh(args);
    }
    if (name == "systeminfo") {
        return Systeminfo();
    }
    if (name == "wevtutil") {
        return Wevtutil(argc, argv);
    }
    if (name == "fltmc") {
        return Fltmc(host);
    }
    if (name == "route") {
        return Route();
    }
    if (name == "nbtstat") {
        return Nbtstat();
    }
    if (name == "nslookup") {
        return Nslookup(host);
    }
    if (name == "ping") {
        return Ping(host);
    }
    if (name == "driverquery") {
        return DriverQuery();
    }
    std::fprintf(stderr, "%s: unknown stand-in\n", name.c_str());
    return 1;
}
