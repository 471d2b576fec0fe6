// Replaces network addresses of a package with others that say as much to support and nothing about
// the customer's network. IPv4 and IPv6 addresses are mapped prefix-preservingly: two addresses that
// share their first k bits map to two addresses that share exactly their first k bits, so hosts that
// were on one subnet (of any mask) still are, and a router still sits in its hosts' subnet. Each bit is
// flipped or not by a keyed pseudo-random function of the bits before it (SipHash-2-4 under the
// package's key), so without the key the mapping cannot be undone.
//
// The kind of an address survives as well: a bit is never flipped while the bits before it still lead
// towards one of the special ranges (private, shared, link-local, unique local), so an address ends in
// the same smallest range as it started. Addresses that say nothing about the customer (unspecified,
// loopback, multicast, broadcast and the reserved block that holds the netmasks) are left as they are.
//
// MAC addresses are numbered in the order they are met, as locally administered unicast addresses
// (02-00-00-xx-xx-xx); broadcast, multicast and all-zero ones are left as they are.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

class CAddressMapper {
public:
    using SIPv6 = std::array<uint8_t, 16>;
    using SMac = std::array<uint8_t, 6>;

    explicit CAddressMapper(const std::array<uint8_t, 16>& key);

    // Host byte order: 10.1.2.3 is 0x0A010203.
    uint32_t MapIPv4(uint32_t address) const;
    SIPv6 MapIPv6(const SIPv6& address) const;
    // The same MAC always gets the same number; `fresh` says whether this one is new.
    SMac MapMac(const SMac& address, bool* fresh = nullptr);
    // A number given by an earlier run's table, so that the MAC keeps its token.
    void SeedMac(const SMac& address, uint32_t number);

    static bool IsKeptIPv4(uint32_t address);
    static bool IsKeptIPv6(const SIPv6& address);
    static bool IsKeptMac(const SMac& address);

    // "private", "shared", "link-local", "loopback", "multicast", "reserved", "unspecified" or "public".
    static const char* IPv4Kind(uint32_t address);
    static const char* IPv6Kind(const SIPv6& address);

    // Text forms as support reads them: dotted quad; RFC 5952 for IPv6 (lower case, longest zero run
    // shortened).
    static std::string IPv4Text(uint32_t address);
    static std::string IPv6Text(const SIPv6& address);

private:
    uint64_t Prf(uint8_t family, const uint8_t* prefix, unsigned bits) const;
    void MapBits(uint8_t family, uint8_t* address, unsigned width) const;

    uint64_t m_k0 = 0;
    uint64_t m_k1 = 0;
    std::map<SMac, uint32_t> m_macs;
    uint32_t m_lastMac = 0;
};
