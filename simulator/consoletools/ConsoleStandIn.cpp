// A stand-in for a Windows console program that the test prefix lacks or must not run for real. It
// answers from its own file name, with realistic text and documentation-range addresses only; it
// touches no network.
#include <windows.h>

#include <cctype>
#include <cstdio>
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

} // namespace

int main(int argc, char** argv)
{
    const std::string name = OwnName();
    const std::string host = FirstArgument(argc, argv);
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
