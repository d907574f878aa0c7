#pragma once
// Builds stored (uncompressed) RAR 4 archives byte by byte: marker block,
// archive header, one header plus data per member, end block, each header
// with its CRC. No RAR writer is at hand, and this way a test can damage
// exactly the byte it means to.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace tarnel::test {

inline uint32_t Crc32(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct RarMember {
    std::string name;
    std::string data;
    bool directory = false;
    bool symlink = false;          // data is the link target
    uint64_t claimedSize = 0;      // when set, the sizes the header states (data is not padded)
    bool badCrc = false;
    bool dataFlag = true;          // flag 0x8000; the format has file headers carry data either way
};

class Rar4Builder {
public:
    Rar4Builder& Add(RarMember member)
    {
        members_.push_back(std::move(member));
        return *this;
    }
    Rar4Builder& File(const std::string& name, const std::string& data)
    {
        return Add({name, data});
    }
    Rar4Builder& Directory(const std::string& name)
    {
        RarMember m{name, {}};
        m.directory = true;
        return Add(m);
    }

    std::string Bytes(bool endBlock = true) const
    {
        std::vector<uint8_t> out = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
        Header(out, 0x73, 0x0000, {0, 0, 0, 0, 0, 0});
        for (const RarMember& m : members_) FileBlock(out, m);
        if (endBlock) Header(out, 0x7B, 0x4000, {});
        return std::string(out.begin(), out.end());
    }

    void Write(const std::string& path, bool endBlock = true) const
    {
        std::ofstream(path, std::ios::binary) << Bytes(endBlock);
    }

private:
    static void Put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8)); }
    static void Put32(std::vector<uint8_t>& v, uint32_t x) { Put16(v, x & 0xFFFF), Put16(v, x >> 16); }

    // CRC, type, flags, size, then the body; the CRC covers type to body end.
    static void Header(std::vector<uint8_t>& out, uint8_t type, uint16_t flags, const std::vector<uint8_t>& body)
    {
        std::vector<uint8_t> h;
        h.push_back(type);
        Put16(h, flags);
        Put16(h, uint32_t(7 + body.size()));
        h.insert(h.end(), body.begin(), body.end());
        Put16(out, Crc32(h.data(), h.size()) & 0xFFFF);
        out.insert(out.end(), h.begin(), h.end());
    }

    static void FileBlock(std::vector<uint8_t>& out, const RarMember& m)
    {
        const uint64_t size = m.claimedSize ? m.claimedSize : m.data.size();
        const bool large = size > 0xFFFFFFFFu;
        uint16_t flags = m.dataFlag ? 0x8000 : 0; // a data area follows
        if (m.directory) flags |= 0xE0;
        if (large) flags |= 0x0100;
        std::vector<uint8_t> body;
        Put32(body, uint32_t(size));
        Put32(body, uint32_t(size));
        body.push_back(3); // host: Unix, so names use "/" and attributes are modes
        uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(m.data.data()), m.data.size());
        if (m.badCrc) crc ^= 0x5A5A5A5Au;
        Put32(body, crc);
        Put32(body, (uint32_t(2024 - 1980) << 25) | (5u << 21) | (17u << 16) | (12u << 11) | (30u << 5));
        body.push_back(20);   // version needed
        body.push_back(0x30); // stored
        Put16(body, uint32_t(m.name.size()));
        Put32(body, m.directory ? 040755 : m.symlink ? 0120777 : 0100644);
        if (large) {
            Put32(body, uint32_t(size >> 32));
            Put32(body, uint32_t(size >> 32));
        }
        body.insert(body.end(), m.name.begin(), m.name.end());
        Header(out, 0x74, flags, body);
        out.insert(out.end(), m.data.begin(), m.data.end());
    }

    std::vector<RarMember> members_;
};

} // namespace tarnel::test
