#include "core/privacy/AddressMapper.h"

#include <cstdio>
#include <cstring>

namespace {

struct SRange {
    uint8_t bytes[16];
    unsigned bits;
    const char* kind;
    bool kept; // left as it is: it says nothing about the customer's network
};

// The smallest range that holds an address gives its kind. Every range here also bounds the mapping,
// so no address is ever mapped into one of them from outside.
const SRange kIPv4Ranges[] = {
    {{0}, 8, "unspecified", true},
    {{10}, 8, "private", false},
    {{100, 64}, 10, "shared", false},
    {{127}, 8, "loopback", true},
    {{169, 254}, 16, "link-local", false},
    {{172, 16}, 12, "private", false},
    {{192, 168}, 16, "private", false},
    {{224}, 4, "multicast", true},
    {{240}, 4, "reserved", true}, // 255.255.255.255 and the netmasks 240.0.0.0 and up
};

const SRange kIPv6Ranges[] = {
    {{0}, 128, "unspecified", true},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128, "loopback", true},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff}, 96, "ipv4-mapped", false},
    {{0xfc}, 7, "private", false},
    {{0xfe, 0x80}, 10, "link-local", false},
    // Link-local addresses keep their zero bits, so they still read fe80::<interface id>.
    {{0xfe, 0x80}, 64, "link-local", false},
    {{0xff}, 8, "multicast", true},
};

bool SamePrefix(const uint8_t* a, const uint8_t* b, unsigned bits)
{
    const unsigned whole = bits / 8;
    if (std::memcmp(a, b, whole) != 0) {
        return false;
    }
    const unsigned rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
    return (a[whole] & mask) == (b[whole] & mask);
}

template <size_t N>
const SRange* SmallestRange(const SRange (&ranges)[N], const uint8_t* address)
{
    const SRange* best = nullptr;
    for (const SRange& range : ranges) {
        if (SamePrefix(range.bytes, address, range.bits) && (best == nullptr || range.bits > best->bits)) {
            best = &range;
        }
    }
    return best;
}

// True while the first `bits` bits of the address still lead into a range below them: flipping the
// next bit could then take the address into that range or out of the one it is in.
template <size_t N>
bool LeadsIntoRange(const SRange (&ranges)[N], const uint8_t* address, unsigned bits)
{
    for (const SRange& range : ranges) {
        if (range.bits > bits && SamePrefix(range.bytes, address, bits)) {
            return true;
        }
    }
    return false;
}

uint64_t Rotl(uint64_t x, int b)
{
    return (x << b) | (x >> (64 - b));
}

void SipRound(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3)
{
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
}

// SipHash-2-4 (Aumasson and Bernstein), the reference algorithm over a byte string.
uint64_t SipHash24(uint64_t k0, uint64_t k1, const uint8_t* data, size_t length)
{
    uint64_t v0 = 0x736f6d6570736575ull ^ k0;
    uint64_t v1 = 0x646f72616e646f6dull ^ k1;
    uint64_t v2 = 0x6c7967656e657261ull ^ k0;
    uint64_t v3 = 0x7465646279746573ull ^ k1;
    const size_t whole = length - length % 8;
    for (size_t i = 0; i < whole; i += 8) {
        uint64_t m = 0;
        for (int b = 7; b >= 0; --b) {
            m = (m << 8) | data[i + b];
        }
        v3 ^= m;
        SipRound(v0, v1, v2, v3);
        SipRound(v0, v1, v2, v3);
        v0 ^= m;
    }
    uint64_t last = static_cast<uint64_t>(length & 0xFF) << 56;
    for (size_t i = whole; i < length; ++i) {
        last |= static_cast<uint64_t>(data[i]) << (8 * (i - whole));
    }
    v3 ^= last;
    SipRound(v0, v1, v2, v3);
    SipRound(v0, v1, v2, v3);
    v0 ^= last;
    v2 ^= 0xff;
    for (int i = 0; i < 4; ++i) {
        SipRound(v0, v1, v2, v3);
    }
    return v0 ^ v1 ^ v2 ^ v3;
}

void ToBytes(uint32_t address, uint8_t* bytes)
{
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(address >> (24 - 8 * i));
    }
}

uint32_t FromBytes(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
        static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

} // namespace

CAddressMapper::CAddressMapper(const std::array<uint8_t, 16>& key)
{
    for (int i = 7; i >= 0; --i) {
        m_k0 = (m_k0 << 8) | key[i];
        m_k1 = (m_k1 << 8) | key[8 + i];
    }
}

uint64_t CAddressMapper::Prf(uint8_t family, const uint8_t* prefix, unsigned bits) const
{
    // Family, length and the prefix with the bits after it cleared: one input per prefix node.
    uint8_t input[18] = {family, static_cast<uint8_t>(bits)};
    const unsigned whole = bits / 8;
    std::memcpy(input + 2, prefix, whole);
    if (bits % 8 != 0) {
        input[2 + whole] = static_cast<uint8_t>(prefix[whole] & (0xFF00u >> (bits % 8)));
    }
    return SipHash24(m_k0, m_k1, input, 2 + (bits + 7) / 8);
}

void CAddressMapper::MapBits(uint8_t family, uint8_t* address, unsigned width) const
{
    uint8_t original[16] = {};
    std::memcpy(original, address, width / 8);
    for (unsigned i = 0; i < width; ++i) {
        const bool leads = family == 4 ? LeadsIntoRange(kIPv4Ranges, original, i) : LeadsIntoRange(kIPv6Ranges, original, i);
        if (!leads && (Prf(family, original, i) & 1u) != 0) {
            address[i / 8] ^= static_cast<uint8_t>(0x80u >> (i % 8));
        }
    }
}

bool CAddressMapper::IsKeptIPv4(uint32_t address)
{
    // The two netmasks of a split default route would otherwise read as public addresses.
    if (address == 0x80000000u || address == 0xC0000000u) {
        return true;
    }
    uint8_t bytes[4];
    ToBytes(address, bytes);
    const SRange* range = SmallestRange(kIPv4Ranges, bytes);
    return range != nullptr && range->kept;
}

bool CAddressMapper::IsKeptIPv6(const SIPv6& address)
{
    const SRange* range = SmallestRange(kIPv6Ranges, address.data());
    return range != nullptr && range->kept;
}

const char* CAddressMapper::IPv4Kind(uint32_t address)
{
    uint8_t bytes[4];
    ToBytes(address, bytes);
    const SRange* range = SmallestRange(kIPv4Ranges, bytes);
    return range != nullptr ? range->kind : "public";
}

const char* CAddressMapper::IPv6Kind(const SIPv6& address)
{
    const SRange* range = SmallestRange(kIPv6Ranges, address.data());
    if (range != nullptr && std::strcmp(range->kind, "ipv4-mapped") == 0) {
        return IPv4Kind(FromBytes(address.data() + 12));
    }
    return range != nullptr ? range->kind : "public";
}

uint32_t CAddressMapper::MapIPv4(uint32_t address) const
{
    if (IsKeptIPv4(address)) {
        return address;
    }
    uint8_t bytes[4];
    ToBytes(address, bytes);
    MapBits(4, bytes, 32);
    return FromBytes(bytes);
}

CAddressMapper::SIPv6 CAddressMapper::MapIPv6(const SIPv6& address) const
{
    if (IsKeptIPv6(address)) {
        return address;
    }
    SIPv6 mapped = address;
    const SRange* range = SmallestRange(kIPv6Ranges, address.data());
    if (range != nullptr && std::strcmp(range->kind, "ipv4-mapped") == 0) {
        // The IPv4 address inside gets the token it has everywhere else.
        ToBytes(MapIPv4(FromBytes(address.data() + 12)), mapped.data() + 12);
        return mapped;
    }
    MapBits(6, mapped.data(), 128);
    return mapped;
}

bool CAddressMapper::IsKeptMac(const SMac& address)
{
    static const SMac zero = {};
    return address == zero || (address[0] & 1u) != 0; // multicast and broadcast have the group bit
}

CAddressMapper::SMac CAddressMapper::MapMac(const SMac& address, bool* fresh)
{
    if (fresh != nullptr) {
        *fresh = false;
    }
    if (IsKeptMac(address)) {
        return address;
    }
    auto found = m_macs.find(address);
    if (found == m_macs.end()) {
        found = m_macs.emplace(address, ++m_lastMac).first;
        if (fresh != nullptr) {
            *fresh = true;
        }
    }
    const uint32_t number = found->second;
    return SMac{0x02, 0x00, 0x00, static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 8),
                static_cast<uint8_t>(number)};
}

void CAddressMapper::SeedMac(const SMac& address, uint32_t number)
{
    if (IsKeptMac(address) || number == 0 || number > 0xFFFFFFu) {
        return;
    }
    m_macs[address] = number;
    if (number > m_lastMac) {
        m_lastMac = number;
    }
}

std::string CAddressMapper::IPv4Text(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFFu, (address >> 8) & 0xFFu,
                  address & 0xFFu);
    return text;
}

std::string CAddressMapper::IPv6Text(const SIPv6& address)
{
    static const uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(address.data(), mappedPrefix, 12) == 0) {
        return "::ffff:" + IPv4Text(FromBytes(address.data() + 12));
    }
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(address[2 * i]) << 8 | address[2 * i + 1];
    }
    int bestStart = -1;
    int bestLength = 1; // a single zero group is not shortened
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0) {
            ++j;
        }
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    std::string text;
    char group[8];
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += group;
    }
    return text;
}
